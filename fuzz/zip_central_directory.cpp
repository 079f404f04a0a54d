// An update archive's central directory, read as stored before libzip opens the archive.
#include "runs/zip_raw_names.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    const auto names = runs::storedNamesWithNul(fuzz::writeScratch("update.zip", data, size));
    // Each entry takes at least 46 bytes of the file.
    if (names && names->size() * 46 > size)
        fuzz::fail("more entries than the file can hold");
    return 0;
}
