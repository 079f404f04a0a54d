#pragma once
// Archive extraction (libzip): flat, every member matching the mask lands directly in the
// destination, files of the same names replaced without asking.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace krv::runs {

// libzip needs no preparation; kept so that the unpacking windows load as they always did.
void IniciaZip();

// Extracts every member of archive whose name matches mask (a Windows-style mask, "*.*"
// for all) into destination, under its last path element only. Members that are folders,
// symbolic links, "." or "..", or whose stored name holds a NUL are skipped. Every member is
// first written to a temporary file in destination (see leftovers.h); only when all are
// complete and on disk are they renamed over the old files, so a failure leaves the old
// files in place and a crash leaves each file either old or new. A replaced file keeps its
// execute bits. The folder structure is never restored,
// whatever restoreStructure says: every caller wants the files flat, and paths from an
// archive are not trusted.
// Refused before anything is written (KrvError err::Archive naming the archive, the member
// where there is one, and the reason): an archive that cannot be opened; members sharing
// bytes of the file or running into the next header or the directory; a member whose target
// exists as anything but a regular file; a member, or all members together, over 1 GiB and
// over 1000 times larger than their compressed size (together: than the archive); members
// that together do not fit in the destination's free space less a margin. Later errors (a
// member that cannot be read or written) leave the old files as they were.
void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int restoreStructure);

// A member written completely but not yet in place: its flat name and its temporary file.
struct StagedMember {
    QString name, path;
};
// Judges the staged members before any is renamed into place; throwing refuses the archive
// and leaves every old file as it was.
using StagedCheck = std::function<void(const std::vector<StagedMember>&)>;
void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int restoreStructure, const StagedCheck& check);

// Files already written in full beside their places in destination (a module rebuilt from a
// delta, runs/delta_update.h): judged, kept and renamed exactly as an archive's members, label
// naming them in errors. The files not renamed are removed.
void placeRebuilt(const QString& label, const QString& destination,
                  const std::vector<StagedMember>& files, const StagedCheck& check);

// Called with every archive's staged members after its check, before the first rename: the
// run keeps the files about to be replaced. Throwing refuses the archive, nothing replaced.
void setBeforeReplacing(
    std::function<void(const QString& destination, const std::vector<StagedMember>&)> hook);

// The free bytes an ordinary writer may use in folder's file system; empty when unknown.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const QString& folder)>;
// Replaces the probe (tests); an empty one restores the file system's own answer.
void setFreeSpaceProbe(FreeSpaceProbe probe);
// The probe's answer for folder.
std::optional<std::uint64_t> freeSpace(const QString& folder);

} // namespace krv::runs
