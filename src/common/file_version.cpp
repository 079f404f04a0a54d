#include "common/file_version.h"

#include "common/text.h"
#include "platform/dialogs.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <array>
#include <cstddef>
#include <elf.h>
#include <vector>

namespace krv {

namespace {

constexpr std::uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr std::uint64_t kFixedSize = 52;
// A version resource's length is a 16-bit field, so nothing larger is ever needed.
constexpr std::uint64_t kMaxVersionData = 0x10000;
// Section header tables and name tables of real programs are far smaller.
constexpr std::uint64_t kMaxElfTable = 4u << 20;

QString gLastVersionText;

// Reads byte ranges of a file; a range not wholly inside the file gives nothing.
class Source {
public:
    explicit Source(QFile& file) : file_(file), size_(static_cast<std::uint64_t>(file.size())) {}

    std::optional<QByteArray> bytes(std::uint64_t offset, std::uint64_t count) const {
        if (offset > size_ || count > size_ - offset)
            return std::nullopt;
        if (!file_.seek(static_cast<qint64>(offset)))
            return std::nullopt;
        QByteArray out = file_.read(static_cast<qint64>(count));
        if (static_cast<std::uint64_t>(out.size()) != count)
            return std::nullopt;
        return out;
    }

private:
    QFile& file_;
    std::uint64_t size_;
};

// Fixed-width fields of a buffer in the file's byte order; callers check the bounds.
struct Fields {
    const QByteArray& b;
    bool big = false;

    std::uint16_t u16(std::size_t at) const {
        return big ? qFromBigEndian<std::uint16_t>(b.constData() + at)
                   : qFromLittleEndian<std::uint16_t>(b.constData() + at);
    }
    std::uint32_t u32(std::size_t at) const {
        return big ? qFromBigEndian<std::uint32_t>(b.constData() + at)
                   : qFromLittleEndian<std::uint32_t>(b.constData() + at);
    }
    std::uint64_t u64(std::size_t at) const {
        return big ? qFromBigEndian<std::uint64_t>(b.constData() + at)
                   : qFromLittleEndian<std::uint64_t>(b.constData() + at);
    }
};

std::optional<FixedFileInfo> decodeFixed(const Fields& f, std::size_t at) {
    if (at + kFixedSize > static_cast<std::size_t>(f.b.size()) || f.u32(at) != kFixedSignature)
        return std::nullopt;
    std::array<std::uint32_t, 13> w{};
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = f.u32(at + 4 * i);
    return FixedFileInfo{w[0], w[1], w[2], w[3],  w[4],  w[5], w[6],
                         w[7], w[8], w[9], w[10], w[11], w[12]};
}

// ---- PE: resource directory to RT_VERSION, then the fixed info by its signature ----

struct PeSection {
    std::uint64_t rva, rawSize, rawOffset;
};

class PeImage {
public:
    explicit PeImage(const Source& src) : src_(src) {}

    bool load() {
        const auto dos = src_.bytes(0, 64);
        if (!dos || !dos->startsWith("MZ"))
            return false;
        const std::uint64_t peAt = Fields{*dos}.u32(0x3C);
        const auto coff = src_.bytes(peAt, 24);
        if (!coff || !coff->startsWith(QByteArray("PE\0\0", 4)))
            return false;
        const Fields c{*coff};
        const std::uint16_t sectionCount = c.u16(6);
        const std::uint16_t optionalSize = c.u16(20);
        const auto opt = src_.bytes(peAt + 24, optionalSize);
        if (!opt || optionalSize < 2)
            return false;
        const Fields o{*opt};
        std::size_t dirCountAt = 0;
        if (o.u16(0) == 0x10B)
            dirCountAt = 92; // PE32
        else if (o.u16(0) == 0x20B)
            dirCountAt = 108; // PE32+
        else
            return false;
        const std::size_t resourceDirAt = dirCountAt + 4 + 2 * 8;
        if (resourceDirAt + 8 > optionalSize || o.u32(dirCountAt) < 3)
            return false;
        resourceRva_ = o.u32(resourceDirAt);
        if (resourceRva_ == 0 || o.u32(resourceDirAt + 4) == 0)
            return false;
        const auto table = src_.bytes(peAt + 24 + optionalSize, std::uint64_t{sectionCount} * 40);
        if (!table)
            return false;
        const Fields t{*table};
        for (std::size_t i = 0; i < sectionCount; ++i)
            sections_.push_back({t.u32(40 * i + 12), t.u32(40 * i + 16), t.u32(40 * i + 20)});
        return true;
    }

    // count bytes at a relative virtual address, when a section's file data holds them all.
    std::optional<QByteArray> atRva(std::uint64_t rva, std::uint64_t count) const {
        for (const auto& s : sections_)
            if (rva >= s.rva && rva - s.rva <= s.rawSize && count <= s.rawSize - (rva - s.rva))
                return src_.bytes(s.rawOffset + (rva - s.rva), count);
        return std::nullopt;
    }

    // The offset field of a directory's chosen entry (relative to the resource directory),
    // or nothing. wantId < 0 takes the first entry.
    std::optional<std::uint32_t> entry(std::uint32_t dirOffset, long wantId) const {
        const auto head = atRva(std::uint64_t{resourceRva_} + dirOffset, 16);
        if (!head)
            return std::nullopt;
        const Fields h{*head};
        const std::uint32_t count = std::uint32_t{h.u16(12)} + h.u16(14);
        for (std::uint32_t i = 0; i < count; ++i) {
            // A count larger than the table ends at the first entry past it.
            const auto e = atRva(std::uint64_t{resourceRva_} + dirOffset + 16 + 8 * i, 8);
            if (!e)
                return std::nullopt;
            const Fields f{*e};
            if (wantId < 0 || f.u32(0) == static_cast<std::uint32_t>(wantId))
                return f.u32(4);
        }
        return std::nullopt;
    }

    std::optional<FixedFileInfo> fixedInfo() const {
        constexpr std::uint32_t kSubdirectory = 0x80000000u;
        constexpr long kRtVersion = 16;
        const auto names = entry(0, kRtVersion);
        if (!names || !(*names & kSubdirectory))
            return std::nullopt;
        const auto languages = entry(*names & ~kSubdirectory, -1);
        if (!languages || !(*languages & kSubdirectory))
            return std::nullopt;
        const auto leaf = entry(*languages & ~kSubdirectory, -1);
        if (!leaf || (*leaf & kSubdirectory))
            return std::nullopt;
        const auto dataEntry = atRva(std::uint64_t{resourceRva_} + *leaf, 16);
        if (!dataEntry)
            return std::nullopt;
        const Fields d{*dataEntry};
        const std::uint32_t size = d.u32(4);
        if (size < kFixedSize || size > kMaxVersionData)
            return std::nullopt;
        const auto data = atRva(d.u32(0), size);
        if (!data)
            return std::nullopt;
        const Fields v{*data};
        for (std::size_t at = 0; at + kFixedSize <= size; at += 4)
            if (auto info = decodeFixed(v, at))
                return info;
        return std::nullopt;
    }

private:
    const Source& src_;
    std::uint32_t resourceRva_ = 0;
    std::vector<PeSection> sections_;
};

// ---- ELF: the section ".krv_version" ----

std::optional<FixedFileInfo> readElf(const Source& src) {
    const auto ident = src.bytes(0, EI_NIDENT);
    if (!ident || !ident->startsWith(ELFMAG))
        return std::nullopt;
    const bool wide = (*ident)[EI_CLASS] == ELFCLASS64;
    if (!wide && (*ident)[EI_CLASS] != ELFCLASS32)
        return std::nullopt;
    const bool big = (*ident)[EI_DATA] == ELFDATA2MSB;
    const auto header = src.bytes(0, wide ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr));
    if (!header)
        return std::nullopt;
    const Fields h{*header, big};
    const std::uint64_t tableAt =
        wide ? h.u64(offsetof(Elf64_Ehdr, e_shoff)) : h.u32(offsetof(Elf32_Ehdr, e_shoff));
    const std::size_t entrySize =
        h.u16(wide ? offsetof(Elf64_Ehdr, e_shentsize) : offsetof(Elf32_Ehdr, e_shentsize));
    std::uint64_t count =
        h.u16(wide ? offsetof(Elf64_Ehdr, e_shnum) : offsetof(Elf32_Ehdr, e_shnum));
    std::uint64_t namesIndex =
        h.u16(wide ? offsetof(Elf64_Ehdr, e_shstrndx) : offsetof(Elf32_Ehdr, e_shstrndx));
    if (tableAt == 0 || entrySize < (wide ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr)))
        return std::nullopt;

    // One section header's fields, read from a loaded table.
    struct Shdr {
        std::uint64_t name, type, offset, size, link;
    };
    const auto shdrAt = [&](const QByteArray& table, std::uint64_t i) {
        const Fields s{table, big};
        const std::size_t at = entrySize * i;
        if (wide)
            return Shdr{s.u32(at + offsetof(Elf64_Shdr, sh_name)),
                        s.u32(at + offsetof(Elf64_Shdr, sh_type)),
                        s.u64(at + offsetof(Elf64_Shdr, sh_offset)),
                        s.u64(at + offsetof(Elf64_Shdr, sh_size)),
                        s.u32(at + offsetof(Elf64_Shdr, sh_link))};
        return Shdr{
            s.u32(at + offsetof(Elf32_Shdr, sh_name)), s.u32(at + offsetof(Elf32_Shdr, sh_type)),
            s.u32(at + offsetof(Elf32_Shdr, sh_offset)), s.u32(at + offsetof(Elf32_Shdr, sh_size)),
            s.u32(at + offsetof(Elf32_Shdr, sh_link))};
    };

    // Files with very many sections keep the real count and name index in section 0.
    if (count == 0 || namesIndex == SHN_XINDEX) {
        const auto first = src.bytes(tableAt, entrySize);
        if (!first)
            return std::nullopt;
        const Shdr zero = shdrAt(*first, 0);
        if (count == 0)
            count = zero.size;
        if (namesIndex == SHN_XINDEX)
            namesIndex = zero.link;
    }
    if (count == 0 || namesIndex >= count || count > kMaxElfTable / entrySize)
        return std::nullopt;
    const auto table = src.bytes(tableAt, count * entrySize);
    if (!table)
        return std::nullopt;
    const Shdr namesSection = shdrAt(*table, namesIndex);
    if (namesSection.size > kMaxElfTable)
        return std::nullopt;
    const auto names = src.bytes(namesSection.offset, namesSection.size);
    if (!names)
        return std::nullopt;

    static const QByteArray kWanted(".krv_version", sizeof(".krv_version")); // with its NUL
    for (std::uint64_t i = 0; i < count; ++i) {
        const Shdr s = shdrAt(*table, i);
        if (s.name >= static_cast<std::uint64_t>(names->size()) ||
            names->mid(static_cast<qsizetype>(s.name), kWanted.size()) != kWanted)
            continue;
        if (s.type == SHT_NOBITS || s.size < kFixedSize)
            return std::nullopt;
        const auto record = src.bytes(s.offset, kFixedSize);
        if (!record)
            return std::nullopt;
        return decodeFixed(Fields{*record, big}, 0);
    }
    return std::nullopt;
}

} // namespace

std::optional<FixedFileInfo> readFixedFileInfo(const QString& path) {
    // Only ordinary files: opening a pipe or device for reading could block.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const Source src(file);
    const auto magic = src.bytes(0, 2);
    if (magic && *magic == "MZ") {
        PeImage pe(src);
        return pe.load() ? pe.fixedInfo() : std::nullopt;
    }
    return readElf(src);
}

QString formatFileVersion(const FixedFileInfo& info) {
    const auto word = [](std::uint32_t v) {
        return text::formatZeros(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)), 2);
    };
    return word(info.fileVersionMS >> 16) + '.' + word(info.fileVersionMS) + '.' +
           word(info.fileVersionLS);
}

QString VersaoArquivo(const QString& fileName, const QString& folder) {
    const QString path = folder + fileName;
    if (!platform::ordinaryFileExists(path))
        return {};
    const auto info = readFixedFileInfo(path);
    if (!info) {
        platform::msgBox("No Version Info available!");
        // Empty, not the previous file's text: the module check would take that for
        // this file's version.
        return {};
    }
    gLastVersionText = formatFileVersion(*info);
    return gLastVersionText;
}

const QString& lastVersionText() {
    return gLastVersionText;
}

} // namespace krv
