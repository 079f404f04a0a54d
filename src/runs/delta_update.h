#pragma once
// A module due in a signed run may come as a delta (common/delta_file.h) against the files
// installed in the suite's folder: chosen when every file it starts from is installed as the
// manifest expects, fetched like any update file, rebuilt into scratch files beside the suite's
// and checked against the archive's member list. Whatever goes wrong short of a cut-off
// download ends in the full archive, in the same run; a delta that failed so is remembered per
// manifest serial beside the update records and never tried again for that serial.
#include "common/release_manifest.h"
#include "runs/fetch_update_file.h"
#include "runs/mod_add_zip.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace krv::runs {
class UpdateRecord;
}

namespace krv::runs::delta {

// The most memory a delta's decoding may ask for: a delta over it is not fetched.
inline constexpr qint64 kMaxWindow = qint64(256) * 1024 * 1024;

struct Attempt {
    // Rebuilt: the delta's name, the bytes this run fetched of it, and the rebuilt files (flat
    // names, scratch files in the suite's folder) for Descompacta's keeping and renaming.
    bool served = false;
    QString delta;
    qint64 bytes = 0;
    std::vector<StagedMember> files;
    // Not rebuilt: why the full archive is fetched (Portuguese); tried: a delta was listed
    // and matched the installed files, so the user is told.
    QString fallback;
    bool tried = false;
    // The delta's download was cut off (its part kept for the next run) or stopped by the
    // user: the run ends as for any such download, with the outcome of the fetch.
    std::optional<FetchOutcome> cutOff;
};

// Fetches one file of the release by name into path, bounded by its listed size.
using FetchOne =
    std::function<FetchOutcome(const QString& name, const QString& path, qint64 listedSize)>;

// Tries the deltas of archive. Files are read from and rebuilt in suiteFolder; the delta is
// fetched into updateFolder (fromMedium: taken from the medium's folder instead, never
// removed there).
Attempt tryDelta(const manifest::Manifest& release, const QString& archive,
                 const QString& suiteFolder, const QString& updateFolder, const FetchOne& fetch);

// The run's side: archive's deltas tried when the run checks a signed release that lists the
// archive as a module (else nothing is tried and nothing said); the record told what served or
// why the full archive comes, and status told why when a delta that matched could not serve.
// release: the run's accepted manifest, null without one.
Attempt forRun(const manifest::Manifest* release, UpdateRecord& record, const QString& archive,
               const QString& updateFolder, const FetchOne& fetch,
               const std::function<void(const QString&)>& status);

// The same for a medium: the delta is read where it lies in folder (names compared without
// regard to case), checked against the manifest and never removed.
Attempt tryMediumDelta(const manifest::Manifest& release, const QString& archive,
                       const QString& suiteFolder, const QString& folder);

// A medium's module that comes only as a delta: the archive, listed in release and matching
// mask ("\\krvsis*.zip"), that a delta on the medium in folder stands for; empty when none.
QString mediumDeltaArchive(const manifest::Manifest& release, const QString& folder,
                           const QString& mask);

// The medium's side of a directory run: every module item's delta tried before anything is
// applied (record and status told as forRun does). A module the medium holds only as a delta
// that cannot serve refuses the run (KrvError, nothing changed, the rebuilt files removed).
// The rebuilt files by archive name.
std::map<QString, std::vector<StagedMember>>
forMedium(const manifest::Manifest* release, UpdateRecord& record, const QStringList& archives,
          const QStringList& onlyAsDelta, const QString& folder,
          const std::function<void(const QString&)>& status);

// The deltas a cut-off download left in updateFolder, for the next fetch to resume.
QStringList resumable(const QString& updateFolder);

// Whether the delta failed before in the suite for the manifest's serial; remembering one
// forgets those of other serials.
bool failedBefore(const QString& suiteFolder, qint64 serial, const QString& delta);
void rememberFailed(const QString& suiteFolder, qint64 serial, const QString& delta);

} // namespace krv::runs::delta
