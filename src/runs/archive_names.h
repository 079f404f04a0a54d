#pragma once
// Names around archives: Windows-style file masks and the flat name a member is written under.
#include <QString>

namespace krv::runs {

// Windows file-mask match: "*" any run of characters, "?" one character. A mask ending in
// ".*" also matches names without a dot, so "*.*" matches every name.
bool matchesMask(const QString& name, const QString& mask, Qt::CaseSensitivity cs);

// The file name a member is extracted to: its last path element, "/" and "\" both
// separating. Empty when the member must be skipped (folder entries, "." and "..").
QString flatMemberName(const QString& stored);

} // namespace krv::runs
