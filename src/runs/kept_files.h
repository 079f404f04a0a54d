#pragma once
// What a run replaces in the suite's folder, kept so that the update can be undone: each old
// file hard-linked (else copied) into DirSis/atualizacoes/<start>/anteriores before its new
// version is renamed over it, the menu's rows written beside it before the reload, both
// listed in the run's record. Old update folders beyond the retention are removed.
#include "runs/mod_add_zip.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace krv::runs {
class UpdateRecord;
}

namespace krv::runs::kept {

// The folder of kept files inside an update's folder, and the menu's rows file.
inline constexpr const char* kFilesFolder = "anteriores";
inline constexpr const char* kMenuFile = "menu.sql";
// Left in an update's folder while a rollback of it is under way.
inline constexpr const char* kRollbackJournal = "desfazendo.json";

struct KeptFile {
    QString name;
    qint64 size = 0;
    QString sha256; // of the old file; empty when the members add the file
    qint64 afterSize = 0;
    QString afterSha256;
};

// Keeps in folder the files of destination that members are about to replace (but those
// keptBefore says an earlier archive of the run already kept). Throws KrvError, keeping
// nothing, when the copies of the files that cannot be linked do not fit in the free space.
std::vector<KeptFile> keepFiles(const QString& folder, const QString& destination,
                                const std::vector<StagedMember>& members,
                                const std::function<bool(const QString&)>& keptBefore);

// Whether the archives' members and, where hard links fail, the copies of the files of
// destination they replace fit in destination's free space together: the kept files hold on
// to the space of what they replace, so archives that fit one by one may not fit together.
// Throws KrvError when they do not; checked before the first archive is unpacked, so that a
// run without room changes nothing. folder: where the copies go; keptBefore: the files an
// earlier archive of the run already kept, which need no room again.
void requireRoomFor(const QString& folder, const QString& destination, const QStringList& archives,
                    const std::function<bool(const QString&)>& keptBefore = {});

// requireRoomFor for the run record tells of, when it keeps what it replaces in the suite's
// folder.
void beforeUnpacking(const UpdateRecord& record, const QStringList& archives);

// Keeps the files of destination that members are about to replace, when destination is
// the suite's folder and a run has begun. Throws KrvError, keeping nothing, when the copies
// (of the files that cannot be linked) do not fit in the free space.
void beforeReplacing(UpdateRecord& record, const QString& destination,
                     const std::vector<StagedMember>& members);

// The assistant's archive about to be handed to Movrin, which unpacks it into the program
// folder: when that is the suite's folder, the files it replaces are kept and recorded as a
// module archive's are, their new versions hashed from the archive. Throws as keepFiles.
void assistantBeforeHandOver(UpdateRecord& record, const QString& archive);

// Writes the menu's rows before the reload; throws KrvError when they cannot be written.
void menuBeforeReload(UpdateRecord& record);

// The update folders kept by default, and the environment variable that changes it.
inline constexpr int kDefaultRetention = 3;
inline constexpr const char* kRetentionVariable = "ZELVOR_KEEP_UPDATES";
int retention();

// Removes the update folders of suiteFolder beyond the newest retention() ones, but one whose
// rollback was cut off. The copies of changed values (dados-*.csv) and the records are never
// touched.
void removeOldFolders(const QString& suiteFolder);

// Tests: a file system that refuses hard links, so that every kept file is a copy.
void setHardLinksAllowed(bool allowed);

} // namespace krv::runs::kept
