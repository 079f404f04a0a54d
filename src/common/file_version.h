#pragma once
// The version of an executable: the fixed file information of a Windows PE file's version
// resource, or the same 52-byte record that Zelvor and Movrin carry in an ELF section
// ".krv_version", formatted as the update server writes versions ("01.31.05").
#include <QString>
#include <cstdint>
#include <optional>

namespace krv {

// The 52-byte VS_FIXEDFILEINFO record.
struct FixedFileInfo {
    std::uint32_t signature, strucVersion, fileVersionMS, fileVersionLS, productVersionMS,
        productVersionLS, fileFlagsMask, fileFlags, fileOS, fileType, fileSubtype, fileDateMS,
        fileDateLS;
};

// Reads the record from a PE file's version resource or from our ELF section; empty when
// the file has none, is not such a file, or cannot be read.
std::optional<FixedFileInfo> readFixedFileInfo(const QString& path);

// major.minor.revision, each as a signed 16-bit number formatted "00".
QString formatFileVersion(const FixedFileInfo& info);

// folder + fileName joined as stored (no separator added). Empty text for a missing file.
// A file without version information shows "No Version Info available!" and yields empty
// text; the text kept from an earlier call is never handed back for it.
QString VersaoArquivo(const QString& fileName, const QString& folder);

// The last version text VersaoArquivo produced (empty before the first); a file without
// version information leaves it as it was.
const QString& lastVersionText();

} // namespace krv
