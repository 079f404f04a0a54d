#pragma once
// Versions held back after a rollback: a module, menu or assistant version that was undone is
// not offered again until a newer one comes or the hold is released. The holds live in
// DirSis/atualizacoes/versoes.retidas, beside the records.
#include <QList>
#include <QString>

namespace krv::runs {
class RunSession;
}

namespace krv::runs::holds {

struct Hold {
    QString kind;    // "module", "menu" or "assistant"
    QString name;    // the module's base name ("krvsis"), or "mnusis_cs.krv"
    QString version; // the version undone
    QString record;  // the record of the update undone
};

QString holdsFile(const QString& suiteFolder);
// The holds of the suite; none when the file is missing or unreadable.
QList<Hold> read(const QString& suiteFolder);
// Adds holds (a hold already there is kept once). Throws KrvError when the file cannot be written.
void add(const QString& suiteFolder, const QList<Hold>& holds);
// Ends the holds on name (case ignored), or every hold when name is empty; returns how many.
int release(const QString& suiteFolder, const QString& name);

// Whether that version is held: exactly the version undone, name case ignored.
bool held(const QList<Hold>& holds, const QString& kind, const QString& name,
          const QString& version);

// The work list's question, for run (in DirSis): true when the version is held or the maker
// withdrew it, said in a status line and in the run's record; otherwise the version is
// recorded as offered. A hold ends when installed lies below the maker's minimum.
bool leaveOut(RunSession& run, const QString& kind, const QString& name, const QString& version,
              const QString& installed = {});
// The same for an archive the directory run found by its mask ("\krvsis*.zip"): the module is
// the mask's name, the version what the archive's name adds to it.
bool leaveOutArchive(RunSession& run, const QString& mask, const QString& archive);

} // namespace krv::runs::holds
