#include "common/file_version.h"

namespace krv {

std::optional<FixedFileInfo> readFixedFileInfo(const QString&) { return std::nullopt; }
QString formatFileVersion(const FixedFileInfo&) { return {}; }
QString VersaoArquivo(const QString&, const QString&) { return {}; }

} // namespace krv
