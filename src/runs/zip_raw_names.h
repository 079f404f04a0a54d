#pragma once
// A look at an archive's central directory as stored: libzip turns a NUL inside a member
// name into a blank, which would hide a name crafted to read differently to other tools.
#include <QString>
#include <optional>
#include <vector>

namespace krv::runs {

// For each central-directory entry, in order, whether its stored name holds a NUL byte.
// Empty when the directory cannot be read (the caller's zip reader reports that).
std::optional<std::vector<bool>> storedNamesWithNul(const QString& archivePath);

} // namespace krv::runs
