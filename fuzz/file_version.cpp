// A module or program file whose version the module check reads: a PE version resource or
// our own ELF section.
#include "common/file_version.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    const auto info = readFixedFileInfo(fuzz::writeScratch("module.exe", data, size));
    if (info) {
        if (info->signature != 0xFEEF04BDu)
            fuzz::fail("a record without its signature");
        if (formatFileVersion(*info).count('.') != 2)
            fuzz::fail("a version not in three parts");
    }
    return 0;
}
