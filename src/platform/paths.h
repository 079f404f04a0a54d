#pragma once
// Windows path conventions translated: texts appended to a folder that begin with "\"
// are appended with "/"; folders are used exactly as stored, nothing added or removed.
#include <QString>

namespace krv::platform {

// folder + tail, with every "\" of tail turned into "/". No separator is added.
QString winJoin(const QString& folder, const QString& tail);

// True when an ordinary file exists at path. Hidden files (name starting with a dot)
// count as missing, as the original file lookup did not list hidden files.
bool ordinaryFileExists(const QString& path);

// A suite module named by its base name: folder + base + ".exe" when that file exists,
// otherwise folder + base. folder is used as stored.
QString moduleFile(const QString& folder, const QString& baseName);

} // namespace krv::platform
