#pragma once
// Undoing an update: the files it replaced put back from the copies it kept, the files it
// added removed, the menu's rows and licensa.atmenu as they were; the database's structure
// and ult_atualizacao stay. The versions undone are then held (runs/holds.h). A journal in the
// update's folder lets the next rollback finish one that was cut off.
#include "runs/holds.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace krv::database {
class Connection;
}

namespace krv::runs::rollback {

struct FileStep {
    QString name;
    bool added = false;  // the update added it: removed
    QString sha256;      // the kept copy's
    QString afterSha256; // as the update left it
};

struct Plan {
    QString record; // the record of the update undone (its file name)
    QString folder; // that update's folder, with the kept copies
    QList<FileStep> files;
    bool menu = false;
    int menuRows = 0;
    QJsonValue atmenu; // licensa.atmenu before the update
    QList<holds::Hold> holds;
    bool resuming = false; // a rollback of this record was cut off
    QString refusal;       // not empty: nothing may be done, and why
};

// What undoing the update of recordName (a record's file name, with or without ".json")
// would do in suiteFolder; an empty name: the last update that kept files or the menu.
Plan plan(const QString& suiteFolder, const QString& recordName = {});

// The newest update that installed that version (kind as the record's versions say) and was
// not undone: its record's file name; empty when none did.
QString updateThatInstalled(const QString& suiteFolder, const QString& kind, const QString& name,
                            const QString& version);

// The lines that tell a person what the rollback puts back.
QStringList describe(const Plan& plan);

// Does it (plan must carry no refusal); connection is used when the menu is restored.
// Writes the rollback's own record and returns it. Throws KrvError when a step fails; the
// journal stays, so the next rollback finishes the work. The fields of note go into the record
// too, its "reason" (why the update was undone) before the record's message.
QJsonObject apply(const QString& suiteFolder, const Plan& plan, database::Connection* connection,
                  const QJsonObject& note = {});

// Puts back files a run under way replaced (their copies kept in keptFolder), a file at a
// time, going on past one that fails. Neither a journal nor a record of its own: the run's
// record tells it, and the versions are not held, so that the next run tries them again.
struct FileResult {
    QStringList restored, removed; // put back from its copy; added by the run and removed
    QStringList failed;            // "name: why"
    bool any() const { return !restored.isEmpty() || !removed.isEmpty() || !failed.isEmpty(); }
};
FileResult undoFiles(const QString& suiteFolder, const QString& keptFolder,
                     const QList<FileStep>& files);

// One line a record, newest first: start, outcome, modules, menu, database, whether it can
// be rolled back; fields separated by tabs.
QStringList listing(const QString& suiteFolder);

} // namespace krv::runs::rollback
