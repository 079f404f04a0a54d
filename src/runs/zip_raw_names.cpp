#include "runs/zip_raw_names.h"

#include <QFile>
#include <cstring>

namespace krv::runs {

namespace {

quint64 le(const char* p, int bytes) {
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

constexpr quint32 kEocd = 0x06054b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr quint32 kZip64Eocd = 0x06064b50;
constexpr quint32 kCentralEntry = 0x02014b50;

} // namespace

std::optional<std::vector<bool>> storedNamesWithNul(const QString& archivePath) {
    QFile f(archivePath);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 fileSize = f.size();
    // The end record (22 bytes) plus a comment of at most 65535 bytes.
    const qint64 tailSize = std::min<qint64>(fileSize, 22 + 65535);
    if (!f.seek(fileSize - tailSize))
        return std::nullopt;
    const QByteArray tail = f.read(tailSize);
    if (tail.size() != tailSize)
        return std::nullopt;
    qint64 at = -1;
    for (qint64 i = tail.size() - 22; i >= 0; --i) {
        const char* p = tail.constData() + i;
        if (le(p, 4) == kEocd && i + 22 + static_cast<qint64>(le(p + 20, 2)) <= tail.size()) {
            at = i;
            break;
        }
    }
    if (at < 0)
        return std::nullopt;
    const char* eocd = tail.constData() + at;
    quint64 entries = le(eocd + 10, 2);
    quint64 cdSize = le(eocd + 12, 4);
    // Where the directory really ends: archives with data put in front (self-extracting
    // ones) have offsets that do not count it, so the start is found from the end.
    qint64 cdEnd = fileSize - tailSize + at;
    if (entries == 0xFFFF || cdSize == 0xFFFFFFFF) {
        if (at < 20)
            return std::nullopt;
        const char* loc = eocd - 20;
        if (le(loc, 4) != kZip64Locator)
            return std::nullopt;
        const qint64 z64 = static_cast<qint64>(le(loc + 8, 8));
        char rec[56];
        if (z64 < 0 || !f.seek(z64) || f.read(rec, sizeof rec) != sizeof rec ||
            le(rec, 4) != kZip64Eocd)
            return std::nullopt;
        entries = le(rec + 32, 8);
        cdSize = le(rec + 40, 8);
        cdEnd = z64;
    }
    const qint64 cdStart = cdEnd - static_cast<qint64>(cdSize);
    if (cdStart < 0 || cdSize > 512u * 1024 * 1024 || !f.seek(cdStart))
        return std::nullopt;
    const QByteArray cd = f.read(static_cast<qint64>(cdSize));
    if (cd.size() != static_cast<qsizetype>(cdSize))
        return std::nullopt;
    std::vector<bool> result;
    qsizetype pos = 0;
    while (result.size() < entries) {
        if (pos + 46 > cd.size() || le(cd.constData() + pos, 4) != kCentralEntry)
            return std::nullopt;
        const char* e = cd.constData() + pos;
        const qsizetype nameLen = le(e + 28, 2);
        const qsizetype next = pos + 46 + nameLen + le(e + 30, 2) + le(e + 32, 2);
        if (next > cd.size())
            return std::nullopt;
        result.push_back(std::memchr(e + 46, 0, nameLen) != nullptr);
        pos = next;
    }
    return result;
}

} // namespace krv::runs
