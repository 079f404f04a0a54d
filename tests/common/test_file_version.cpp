#include "build_info.h"
#include "common/file_version.h"
#include "common/text.h"
#include "hook_tap.h"
#include "pe_builder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace krv;
using test::PeBuilder;
using test::PeKind;

namespace {

constexpr std::uint32_t kSignature = 0xFEEF04BDu;

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A fresh file each time: truncating one in place makes ext4 flush it on close, which
// the loops below would wait for a thousand times.
void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile::remove(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

std::uint32_t le32(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<std::uint32_t>(b.constData() + at);
}

void putLe32(QByteArray& b, qsizetype at, std::uint32_t v) {
    qToLittleEndian(v, b.data() + at);
}

FixedFileInfo withFileVersion(std::uint32_t ms, std::uint32_t ls) {
    FixedFileInfo info{};
    info.signature = kSignature;
    info.fileVersionMS = ms;
    info.fileVersionLS = ls;
    return info;
}

} // namespace

TEST(FileVersionText, ThreeSignedWordsPaddedToTwoDigitsWithoutTheBuildNumber) {
    EXPECT_EQ(formatFileVersion(withFileVersion(0x0001001F, 0x00000005)), "01.31.05");
    EXPECT_EQ(formatFileVersion(withFileVersion(0x00020003, 0x00000078)), "02.03.120");
    EXPECT_EQ(formatFileVersion(withFileVersion(0x000A0000, 0x00000000)), "10.00.00");
    EXPECT_EQ(formatFileVersion(withFileVersion(0x00010002, 0x03E70003)), "01.02.03");
    EXPECT_EQ(formatFileVersion(withFileVersion(0x8000FFFF, 0x0000FFFB)), "-32768.-01.-05");
}

class PeVersions : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString folder() const { return dir_.path() + "/"; }

    // Builds name with that file version; fails the test when the toolchain does.
    void build(const QString& name, std::uint16_t major, std::uint16_t minor, std::uint16_t build,
               std::uint16_t revision, PeKind kind = PeKind::Pe32Plus) {
        ASSERT_FALSE(pe_.withVersion(name, major, minor, build, revision, kind).isEmpty())
            << pe_.error().toStdString();
    }
    void buildScript(const QString& name, const QString& script) {
        ASSERT_FALSE(pe_.fromScript(name, script).isEmpty()) << pe_.error().toStdString();
    }

    QTemporaryDir dir_;
    PeBuilder pe_{dir_.path()};
};

TEST_F(PeVersions, RealPeFilesGiveTheirFileVersionText) {
    build("a.exe", 1, 31, 0, 5);
    build("b.exe", 2, 3, 0, 120);
    build("c.exe", 10, 0, 0, 0);
    build("d.exe", 32768, 65535, 7, 40000);
    build("e.exe", 2, 3, 0, 120, PeKind::Pe32);
    test::HookTap tap;
    EXPECT_EQ(VersaoArquivo("a.exe", folder()), "01.31.05");
    EXPECT_EQ(VersaoArquivo("b.exe", folder()), "02.03.120");
    EXPECT_EQ(VersaoArquivo("c.exe", folder()), "10.00.00");
    EXPECT_EQ(VersaoArquivo("d.exe", folder()), "-32768.-01.-25536");
    EXPECT_EQ(VersaoArquivo("e.exe", folder()), "02.03.120");
    EXPECT_EQ(lastVersionText(), "02.03.120");
    EXPECT_TRUE(tap.messages().isEmpty());

    const auto info = readFixedFileInfo(folder() + "e.exe");
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->signature, kSignature);
    EXPECT_EQ(info->fileVersionMS, 0x00020003u);
    EXPECT_EQ(info->fileVersionLS, 0x00000078u);
    EXPECT_EQ(info->productVersionMS, 0x00090009u);
    EXPECT_EQ(info->fileOS, 0x40004u);
    EXPECT_EQ(info->fileType, 1u);
}

TEST_F(PeVersions, VersionFoundAmongOtherResourcesAndNamedEntries) {
    // A named type, and a look-alike record (8.9.0.7) outside the version resource.
    QString fake = "2 RCDATA { 0x04BD, 0xFEEF, 0, 1, 9, 8, 7, 0";
    for (int i = 8; i < 26; ++i)
        fake += ", 0";
    buildScript("mixed.exe", "LOGO MYTYPE { \"abc\" }\n" + fake +
                                 " }\n"
                                 "STRINGTABLE { 1, \"texto\" }\n" +
                                 test::versionBlock(4, 5, 6, 7) + "1 24 { \"<assembly/>\" }\n");
    EXPECT_EQ(VersaoArquivo("mixed.exe", folder()), "04.05.07");
}

TEST_F(PeVersions, NoVersionResourceShowsTheMessageAndNeverThePreviousText) {
    build("good.exe", 1, 31, 0, 5);
    buildScript("data.exe", "LOGO RCDATA { \"abc\" }\n");
    ASSERT_FALSE(pe_.withoutResources("bare.exe").isEmpty()) << pe_.error().toStdString();
    writeBytes(folder() + "notes.exe", "not an executable");

    ASSERT_EQ(VersaoArquivo("good.exe", folder()), "01.31.05");
    test::HookTap tap;
    for (const QString name : {"data.exe", "bare.exe", "notes.exe"})
        EXPECT_EQ(VersaoArquivo(name, folder()), "") << name.toStdString();
    EXPECT_EQ(lastVersionText(), "01.31.05");

    const auto lines = tap.lines();
    ASSERT_EQ(lines.size(), 3);
    for (const auto& box : lines) {
        EXPECT_EQ(box.kind, "msgbox");
        EXPECT_EQ(box.fields.value(0), QCoreApplication::applicationName());
        EXPECT_EQ(box.fields.value(1), "none");
        EXPECT_EQ(box.fields.value(2), "OK");
        EXPECT_EQ(box.fields.value(3), "No Version Info available!");
    }
}

TEST_F(PeVersions, MissingHiddenOrNonFileIsEmptyWithoutMessage) {
    build(".hidden.exe", 1, 31, 0, 5);
    ASSERT_TRUE(QDir(folder()).mkdir("dir.exe"));
    test::HookTap tap;
    EXPECT_EQ(VersaoArquivo("absent.exe", folder()), "");
    EXPECT_EQ(VersaoArquivo(".hidden.exe", folder()), "");
    EXPECT_EQ(VersaoArquivo("dir.exe", folder()), "");
    EXPECT_TRUE(tap.lines().isEmpty());
}

TEST_F(PeVersions, FolderWithoutSeparatorRunsIntoTheFileName) {
    ASSERT_TRUE(QDir(folder()).mkdir("bin"));
    build("bin/prog.exe", 1, 31, 0, 5);
    test::HookTap tap;
    EXPECT_EQ(VersaoArquivo("prog.exe", folder() + "bin"), "");
    EXPECT_TRUE(tap.lines().isEmpty());
    build("binprog.exe", 2, 3, 0, 120);
    EXPECT_EQ(VersaoArquivo("prog.exe", folder() + "bin"), "02.03.120");
    EXPECT_EQ(VersaoArquivo("prog.exe", folder() + "bin/"), "01.31.05");
}

// A valid image and the places in it a damaged copy changes.
class DamagedPe : public PeVersions {
protected:
    void SetUp() override {
        PeVersions::SetUp();
        build("good.exe", 1, 31, 0, 5);
        good_ = fileBytes(folder() + "good.exe");
        fixedAt_ = good_.indexOf(QByteArray("\xBD\x04\xEF\xFE", 4));
        ASSERT_GT(fixedAt_, 0);
        ASSERT_EQ(good_.indexOf(QByteArray("\xBD\x04\xEF\xFE", 4), fixedAt_ + 1), -1);
        const QByteArray key = QByteArray("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
        const qsizetype versionAt = good_.indexOf(key) - 6;
        ASSERT_GT(versionAt, 0);
        versionEnd_ = versionAt + qFromLittleEndian<std::uint16_t>(good_.constData() + versionAt);

        // The resource tree as objdump reports where it starts; entries followed from there.
        QProcess objdump;
        objdump.start("x86_64-w64-mingw32-objdump", {"-h", folder() + "good.exe"});
        ASSERT_TRUE(objdump.waitForFinished());
        for (const QString& line : QString::fromLocal8Bit(objdump.readAll()).split('\n')) {
            const QStringList f = line.simplified().split(' ');
            if (f.size() > 5 && f[1] == ".rsrc")
                rsrc_ = f[5].toLongLong(nullptr, 16);
        }
        ASSERT_GT(rsrc_, 0);
        typeEntry_ = rsrc_ + 16;
        const qsizetype nameDir = rsrc_ + (le32(good_, typeEntry_ + 4) & 0x7FFFFFFF);
        const qsizetype langDir = rsrc_ + (le32(good_, nameDir + 16 + 4) & 0x7FFFFFFF);
        langEntry_ = langDir + 16;
        dataEntry_ = rsrc_ + le32(good_, langEntry_ + 4);
    }

    // The text VersaoArquivo gives for the image with that change.
    QString versionOf(const QByteArray& bytes) {
        writeBytes(folder() + "damaged.exe", bytes);
        return VersaoArquivo("damaged.exe", folder());
    }
    QString withWord(qsizetype at, std::uint32_t value) {
        QByteArray b = good_;
        putLe32(b, at, value);
        return versionOf(b);
    }

    QByteArray good_;
    qsizetype fixedAt_ = 0, versionEnd_ = 0;
    qsizetype rsrc_ = 0, typeEntry_ = 0, langEntry_ = 0, dataEntry_ = 0;
};

TEST_F(DamagedPe, BrokenHeadersAndResourceTreeGiveNoVersion) {
    ASSERT_EQ(versionOf(good_), "01.31.05");
    test::HookTap tap;
    EXPECT_EQ(withWord(0x3C, static_cast<std::uint32_t>(good_.size())), ""); // PE header
    EXPECT_EQ(withWord(0x3C, 0xFFFFFFFFu), "");
    EXPECT_EQ(withWord(le32(good_, 0x3C), 0x00005850u), "");  // "PX\0\0"
    EXPECT_EQ(withWord(le32(good_, 0x3C) + 24, 0x0107u), ""); // optional magic
    EXPECT_EQ(withWord(typeEntry_, 17), "");                  // no RT_VERSION
    EXPECT_EQ(withWord(langEntry_ + 4, 0x80000000u), "");     // language loops back to the root
    EXPECT_EQ(withWord(dataEntry_ + 4, 0xFFFFFFFFu), "");     // data size
    EXPECT_EQ(withWord(dataEntry_, 0x7FFFFFF0u), "");         // data outside every section
    EXPECT_EQ(withWord(fixedAt_, 0xFEEF04BEu), "");           // signature
    EXPECT_EQ(tap.messages().size(), 9);
    EXPECT_EQ(lastVersionText(), "01.31.05");
}

TEST_F(DamagedPe, CountPastTheTableEndsWithoutReadingOutOfTheFile) {
    QByteArray b = good_;
    putLe32(b, typeEntry_, 17);
    qToLittleEndian<std::uint16_t>(0xFFFF, b.data() + rsrc_ + 14);
    EXPECT_EQ(versionOf(b), "");
}

TEST_F(DamagedPe, TruncatedCopiesReadOnlyWhenTheVersionDataIsWhole) {
    for (qsizetype cut = 0; cut < good_.size(); cut += 7) {
        writeBytes(folder() + "cut.exe", good_.left(cut));
        const auto info = readFixedFileInfo(folder() + "cut.exe");
        if (cut < versionEnd_)
            EXPECT_FALSE(info.has_value()) << cut;
        else
            EXPECT_TRUE(info && formatFileVersion(*info) == "01.31.05") << cut;
    }
}

TEST_F(DamagedPe, AnyDamagedByteGivesTheTrueVersionOrNone) {
    for (qsizetype at = 0; at < versionEnd_; ++at) {
        if (at >= fixedAt_ + 8 && at < fixedAt_ + 16)
            continue; // the version words themselves
        QByteArray b = good_;
        b[at] = static_cast<char>(~b[at]);
        writeBytes(folder() + "flip.exe", b);
        const auto info = readFixedFileInfo(folder() + "flip.exe");
        EXPECT_TRUE(!info || formatFileVersion(*info) == "01.31.05") << at;
    }
}

TEST(ElfVersion, OurProgramsCarryTheBuildVersion) {
    const QString expected = text::formatZeros(build::major, 2) + '.' +
                             text::formatZeros(build::minor, 2) + '.' +
                             text::formatZeros(build::revision, 2);
    test::HookTap tap;
    for (const QString program : {ZELVOR_BIN, MOVRIN_BIN}) {
        const QFileInfo fi(program);
        EXPECT_EQ(VersaoArquivo(fi.fileName(), fi.absolutePath() + "/"), expected);
    }
    EXPECT_TRUE(tap.lines().isEmpty());
}

TEST(ElfVersion, EveryClassAndByteOrderAndDamagedCopies) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PeBuilder tools(dir.path());
    const std::uint32_t words[13] = {kSignature, 0x10000, 0x00030004, 0x00070009};
    for (const QString target : {"elf32-i386", "elf64-x86-64", "elf32-big", "elf64-big"}) {
        const bool big = target.endsWith("big");
        QByteArray record(52, '\0');
        for (int i = 0; i < 13; ++i)
            if (big)
                qToBigEndian(words[i], record.data() + 4 * i);
            else
                qToLittleEndian(words[i], record.data() + 4 * i);
        const QString path = tools.elfWithSection(target, target, record);
        ASSERT_FALSE(path.isEmpty()) << tools.error().toStdString();
        const auto info = readFixedFileInfo(path);
        ASSERT_TRUE(info.has_value()) << target.toStdString();
        EXPECT_EQ(formatFileVersion(*info), "03.04.09") << target.toStdString();
    }

    const QByteArray zelvor = fileBytes(ZELVOR_BIN);
    // The section name table comes last; the reader's own text is in the program too.
    const qsizetype nameAt = zelvor.lastIndexOf(QByteArray(".krv_version", 13));
    ASSERT_GT(nameAt, 0);
    QByteArray renamed = zelvor;
    renamed[nameAt + 11] = 'X';
    QByteArray noTable = zelvor;
    qToLittleEndian<std::uint64_t>(zelvor.size() - 8, noTable.data() + 0x28); // e_shoff
    const std::pair<const char*, QByteArray> damaged[] = {
        {"renamed", renamed}, {"notable", noTable}, {"half", zelvor.left(zelvor.size() / 2)}};
    for (const auto& [name, bytes] : damaged) {
        writeBytes(dir.path() + "/" + name, bytes);
        EXPECT_FALSE(readFixedFileInfo(dir.path() + "/" + name).has_value()) << name;
    }
}
