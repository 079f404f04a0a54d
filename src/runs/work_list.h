#pragma once
// The work of a run: what the version check (or the medium) found due, each item with its kind,
// versions and file, and where its file lies in the update folder.
#include <QList>
#include <QString>
#include <QStringList>

namespace krv::runs {

// One piece of work: a module's archive, the database update file, the menu file, the
// assistant itself, or a file the run only fetches and logs.
struct WorkItem {
    enum class Kind { Module, Database, Menu, Assistant, Other };
    Kind kind = Kind::Module;
    QString file;     // the work-list name: "krvsis01.32.00.zip", "krv.mdb", "mnusis_cs.krv"
    QString baseName; // a module's base name ("krvsis"); empty for the database and menu
    QString offered, installed;
    int code = 0;   // the version list's module code
    QString status; // a directory run's module: the status text while it is unpacked
};

// The work of a run, in the order it is done.
struct WorkList {
    QList<WorkItem> items;
    QList<WorkItem> held; // due but held back after a rollback: shown, never applied
    QStringList files() const;
    bool has(WorkItem::Kind kind) const;
    bool isEmpty() const { return items.isEmpty(); }
    void clear() {
        items.clear();
        held.clear();
    }
};

// The update folder's file of that name (DirSis + "\update\" + file).
QString updatePath(const QString& file);
// The update folder's file of the database update (krv.mdb) or of the menu (mnusis_cs.krv).
QString updatePath(WorkItem::Kind kind);

} // namespace krv::runs
