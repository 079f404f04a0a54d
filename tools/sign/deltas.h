#pragma once
// The maker's side of delta updates: each module archive's members listed in the manifest, and
// a delta per module archive and earlier release holding the same module at an older version.
#include "common/release_manifest.h"

#include <QString>
#include <QStringList>

namespace krv::sign {

// A delta is published only when it is at least this much below its archive.
inline constexpr double kMaxDeltaShare = 0.8;

// Lists the members of every module archive of manifest (the files in folder), then writes
// into folder the deltas from every earlier release in oldFolders (each with its manifest and
// archives) and lists them; a delta not small enough is removed and told on standard output.
// Stale deltas in folder are removed first. false with why when an archive cannot be read or
// a delta cannot be written.
bool addDeltas(manifest::Manifest& manifest, const QString& folder, const QStringList& oldFolders,
               QString* why);

// verify-release's part: every listed delta present with its size and SHA-256, for a listed
// archive, in a known algorithm; every archive's members as listed. Each fault told on
// standard error; false when any.
bool verifyDeltas(const manifest::Manifest& manifest, const QString& folder);

} // namespace krv::sign
