// An update archive's central directory and local headers, read as stored before libzip
// opens the archive.
#include "runs/zip_raw_names.h"
#include "scratch_file.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    const auto directory = runs::readCentralDirectory(file);
    if (!directory)
        return 0;
    // Each entry takes at least 46 bytes of the file, all before the end record.
    if (directory->entries.size() * 46 > size || directory->start > size)
        fuzz::fail("more entries than the file can hold");
    if (!runs::layoutFault(file, *directory)) {
        // Accepted: every member starts with its local header inside the file.
        for (const runs::CentralEntry& e : directory->entries)
            if (e.localOffset + 30 > directory->start)
                fuzz::fail("a member accepted without its local header");
    }
    return 0;
}
