#pragma once
// The decisions of the directory run that need no window: which archive stands for each
// module in the source folder, and whether the shipped database update is due.
#include <QString>
#include <QVariant>
#include <array>
#include <optional>

namespace krv::runs {

struct ModuleArchive {
    const char* mask;   // relative to the source folder
    const char* status; // shown while it is unpacked
};

// The suite's modules, in the order they are looked for.
extern const std::array<ModuleArchive, 8> kModuleArchives;

// The name of the first ordinary (not hidden) file directly in folder that matches mask
// ("\krvsis*.zip", "\krv.mdb"), case ignored as on the media's original platform, names in
// order with case ignored; the name is returned as stored. Empty when there is none.
QString firstMatch(const QString& folder, const QString& mask);

// True when folder directly holds an ordinary, not hidden "*.zip", "*.mdb" or "*.delta" file, case
// ignored (media are often prepared on systems that ignore it).
bool holdsUpdateFiles(const QString& folder);

} // namespace krv::runs
