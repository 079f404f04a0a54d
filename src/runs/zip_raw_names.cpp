#include "runs/zip_raw_names.h"

#include <QIODevice>
#include <algorithm>
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
constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kMax32 = 0xFFFFFFFF;

// The 64-bit values of the zip64 extra field that stand in for the 32-bit ones set to all
// ones, in the field's fixed order. False when the field is missing or too short.
bool readZip64(const char* extra, qsizetype length, quint64 uncompressed32, quint64& compressed,
               quint64& offset) {
    for (qsizetype at = 0; at + 4 <= length;) {
        const quint64 id = le(extra + at, 2);
        const qsizetype size = static_cast<qsizetype>(le(extra + at + 2, 2));
        if (at + 4 + size > length)
            return false;
        if (id == 1) {
            const char* p = extra + at + 4;
            qsizetype left = size;
            auto take = [&](quint64& value) {
                if (left < 8)
                    return false;
                value = le(p, 8);
                p += 8;
                left -= 8;
                return true;
            };
            quint64 ignored = 0;
            if (uncompressed32 == kMax32 && !take(ignored))
                return false;
            if (compressed == kMax32 && !take(compressed))
                return false;
            return offset != kMax32 || take(offset);
        }
        at += 4 + size;
    }
    return compressed != kMax32 && offset != kMax32;
}

QString nameOf(const CentralEntry& e) {
    return QString::fromUtf8(e.name);
}

} // namespace

std::optional<CentralDirectory> readCentralDirectory(QIODevice& f) {
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
    quint64 cdOffset = le(eocd + 16, 4);
    // Where the directory really ends: archives with data put in front (self-extracting
    // ones) have offsets that do not count it, so the start is found from the end.
    qint64 cdEnd = fileSize - tailSize + at;
    if (entries == 0xFFFF || cdSize == kMax32 || cdOffset == kMax32) {
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
        cdOffset = le(rec + 48, 8);
        cdEnd = z64;
    }
    // Zip64 sizes and offsets may be any 64-bit number: bounded before any signed sum.
    if (cdSize > 512u * 1024 * 1024)
        return std::nullopt;
    const qint64 cdStart = cdEnd - static_cast<qint64>(cdSize);
    if (cdStart < 0 || cdOffset > static_cast<quint64>(cdStart) || !f.seek(cdStart))
        return std::nullopt;
    const qint64 prefix = cdStart - static_cast<qint64>(cdOffset);
    const QByteArray cd = f.read(static_cast<qint64>(cdSize));
    if (cd.size() != static_cast<qsizetype>(cdSize))
        return std::nullopt;
    CentralDirectory result;
    result.start = static_cast<quint64>(cdStart);
    qsizetype pos = 0;
    while (result.entries.size() < entries) {
        if (pos + 46 > cd.size() || le(cd.constData() + pos, 4) != kCentralEntry)
            return std::nullopt;
        const char* e = cd.constData() + pos;
        const qsizetype nameLen = static_cast<qsizetype>(le(e + 28, 2));
        const qsizetype extraLen = static_cast<qsizetype>(le(e + 30, 2));
        const qsizetype next =
            pos + 46 + nameLen + extraLen + static_cast<qsizetype>(le(e + 32, 2));
        if (next > cd.size())
            return std::nullopt;
        CentralEntry entry;
        entry.name = QByteArray(e + 46, nameLen);
        entry.nameHasNul = std::memchr(e + 46, 0, nameLen) != nullptr;
        entry.compressedSize = le(e + 20, 4);
        entry.localOffset = le(e + 42, 4);
        if (!readZip64(e + 46 + nameLen, extraLen, le(e + 24, 4), entry.compressedSize,
                       entry.localOffset))
            return std::nullopt;
        entry.localOffset += static_cast<quint64>(prefix);
        result.entries.push_back(std::move(entry));
        pos = next;
    }
    return result;
}

std::optional<QString> layoutFault(QIODevice& f, const CentralDirectory& directory) {
    struct Span {
        quint64 begin, end;
        const CentralEntry* entry;
    };
    std::vector<Span> spans;
    spans.reserve(directory.entries.size());
    for (const CentralEntry& e : directory.entries) {
        char header[30];
        if (e.localOffset > directory.start || !f.seek(static_cast<qint64>(e.localOffset)) ||
            f.read(header, sizeof header) != sizeof header || le(header, 4) != kLocalHeader)
            return "o cabeçalho local de " + nameOf(e) + " não foi encontrado";
        const quint64 dataStart = e.localOffset + 30 + le(header + 26, 2) + le(header + 28, 2);
        if (e.compressedSize > directory.start) // also keeps the sum below from wrapping
            return "os dados de " + nameOf(e) + " avançam sobre o diretório central";
        spans.push_back({e.localOffset, dataStart + e.compressedSize, &e});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (size_t i = 0; i < spans.size(); ++i) {
        if (i + 1 < spans.size() && spans[i].end > spans[i + 1].begin)
            return "os membros " + nameOf(*spans[i].entry) + " e " + nameOf(*spans[i + 1].entry) +
                   " ocupam o mesmo trecho do arquivo (entradas sobrepostas)";
        if (spans[i].end > directory.start)
            return "os dados de " + nameOf(*spans[i].entry) + " avançam sobre o diretório central";
    }
    return std::nullopt;
}

} // namespace krv::runs
