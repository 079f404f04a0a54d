// Extraction of real archives made here with libzip: flat placement, replacement, masks,
// hostile names, damaged archives and failing writes.
#include "make_zip.h"
#include "platform/krv_error.h"
#include "runs/archive_names.h"
#include "runs/leftovers.h"
#include "runs/mod_add_zip.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace krv;
using krv::runs::Descompacta;

namespace {

using Entry = krv::test::ZipEntry;
using krv::test::makeZip;
using krv::test::writeFile;

QByteArray readAll(const QString& path) {
    return krv::test::readFile(path);
}

// Incompressible bytes, the same for the same seed.
QByteArray patterned(int size, char seed) {
    QByteArray b(size, Qt::Uninitialized);
    quint32 x = 2463534242u + static_cast<unsigned char>(seed);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<char>(x);
    }
    return b;
}

class Extraction : public ::testing::Test {
protected:
    void SetUp() override {
        dest = root.path() + "/suite";
        QDir().mkpath(dest);
        archive = root.path() + "/m.zip";
    }
    QStringList destFiles() const {
        return QDir(dest).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // The error Descompacta raises, or a failure when it raises none.
    KrvError errorOf(const QString& path, const QString& mask = "*.*") {
        try {
            Descompacta(path, mask, dest, 0);
        } catch (const KrvError& e) {
            return e;
        }
        ADD_FAILURE() << "no error for " << path.toStdString();
        return KrvError(0, {});
    }
    QTemporaryDir root;
    QString dest, archive;
};

} // namespace

TEST(FileMask, WindowsRules) {
    using runs::matchesMask;
    EXPECT_TRUE(matchesMask("README", "*.*", Qt::CaseSensitive));
    EXPECT_TRUE(matchesMask("a.b.c", "*.*", Qt::CaseSensitive));
    EXPECT_TRUE(matchesMask("krvsis131.zip", "krvsis*.zip", Qt::CaseSensitive));
    EXPECT_TRUE(matchesMask("krvsis.zip", "krvsis*.zip", Qt::CaseSensitive));
    EXPECT_FALSE(matchesMask("krvsis131.zip.bak", "krvsis*.zip", Qt::CaseSensitive));
    EXPECT_FALSE(matchesMask("mkrvsis1.zip", "krvsis*.zip", Qt::CaseSensitive));
    EXPECT_FALSE(matchesMask("KRVSIS1.ZIP", "krvsis*.zip", Qt::CaseSensitive));
    EXPECT_TRUE(matchesMask("KRVSIS1.ZIP", "krvsis*.zip", Qt::CaseInsensitive));
    EXPECT_TRUE(matchesMask("a1.exe", "a?.exe", Qt::CaseSensitive));
    EXPECT_FALSE(matchesMask("a12.exe", "a?.exe", Qt::CaseSensitive));
    EXPECT_TRUE(matchesMask("abcabd", "*ab?", Qt::CaseSensitive));
}

TEST(FlatMemberName, LastElementOfEitherSeparator) {
    using runs::flatMemberName;
    EXPECT_EQ(flatMemberName("bin/sub/krvsis.exe"), "krvsis.exe");
    EXPECT_EQ(flatMemberName("a\\..\\b"), "b");
    EXPECT_EQ(flatMemberName("../../x"), "x");
    EXPECT_EQ(flatMemberName("/etc/x"), "x");
    EXPECT_EQ(flatMemberName("dir/"), "");
    EXPECT_EQ(flatMemberName("dir\\.."), "");
    EXPECT_EQ(flatMemberName("."), "");
}

TEST_F(Extraction, MembersInSubFoldersLandFlatAndReplaceOldFiles) {
    writeFile(dest + "/krvsis.exe", "old program");
    writeFile(dest + "/keep.txt", "untouched");
    makeZip(archive, {{"bin/", ""},
                      {"bin/krvsis.exe", "new program"},
                      {"docs\\leia.txt", "leia"},
                      {"README", "no dot"}});
    Descompacta(archive, "*.*", dest, 0);
    EXPECT_EQ(destFiles(), QStringList({"README", "keep.txt", "krvsis.exe", "leia.txt"}));
    EXPECT_EQ(readAll(dest + "/krvsis.exe"), "new program");
    EXPECT_EQ(readAll(dest + "/leia.txt"), "leia");
    EXPECT_EQ(readAll(dest + "/keep.txt"), "untouched");
}

TEST_F(Extraction, TwoArchivesInARowBothTakeEffect) {
    const QString second = root.path() + "/n.zip";
    makeZip(archive, {{"a.dll", "first a"}, {"b.dll", "first b"}});
    makeZip(second, {{"b.dll", "second b"}, {"c.dll", "second c"}});
    Descompacta(archive, "*.dll", dest, 0);
    Descompacta(second, "*.*", dest, 0);
    EXPECT_EQ(destFiles(), QStringList({"a.dll", "b.dll", "c.dll"}));
    EXPECT_EQ(readAll(dest + "/a.dll"), "first a");
    EXPECT_EQ(readAll(dest + "/b.dll"), "second b");
    EXPECT_EQ(readAll(dest + "/c.dll"), "second c");
}

TEST_F(Extraction, NarrowMaskTakesOnlyMatchingMembers) {
    makeZip(archive, {{"x/PROG.EXE", "p"}, {"prog.ini", "i"}, {"lib.exe.txt", "t"}});
    Descompacta(archive, "*.exe", dest, 0);
    EXPECT_EQ(destFiles(), QStringList({"PROG.EXE"}));
}

TEST_F(Extraction, LargeMemberIsCompleteAndKeepsArchivePermissions) {
    const QByteArray big = patterned(3 * 1024 * 1024 + 17, 'a');
    makeZip(archive, {{"zelvor", big, S_IFREG | 0755}});
    Descompacta(archive, "*.*", dest, 0);
    EXPECT_EQ(readAll(dest + "/zelvor"), big);
    EXPECT_TRUE(QFileInfo(dest + "/zelvor").isExecutable());
}

TEST_F(Extraction, ReplacedFileWithoutArchivePermissionsKeepsItsOwn) {
    writeFile(dest + "/tool", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(dest + "/tool").constData(), 0750), 0);
    makeZip(archive, {{"tool", "new"}});
    Descompacta(archive, "*.*", dest, 0);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(dest + "/tool").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(readAll(dest + "/tool"), "new");
}

TEST_F(Extraction, HostileNamesStayInsideTheDestination) {
    const QString outside = root.path() + "/outside";
    makeZip(archive, {{"../../x1", "1"},
                      {QFile::encodeName(outside + "/x2"), "2"},
                      {"a\\..\\x3", "3"},
                      {"..", "dots"},
                      {"sub/.", "dot"},
                      {"../", "up"},
                      {"link", "/etc/passwd", S_IFLNK | 0777}});
    Descompacta(archive, "*.*", dest, 0);
    EXPECT_EQ(destFiles(), QStringList({"x1", "x2", "x3"}));
    EXPECT_EQ(readAll(dest + "/x2"), "2");
    EXPECT_FALSE(QFileInfo::exists(outside));
    const QStringList rootEntries =
        QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    EXPECT_EQ(rootEntries, QStringList({"m.zip", "suite"}));
}

TEST_F(Extraction, NameWithNulIsSkipped) {
    makeZip(archive, {{"evilXexe.txt", "hidden"}, {"fine.txt", "ok"}});
    QByteArray bytes = readAll(archive);
    bytes.replace("evilXexe.txt", QByteArray("evil\0exe.txt", 12));
    writeFile(archive, bytes);
    Descompacta(archive, "*.*", dest, 0);
    EXPECT_EQ(destFiles(), QStringList({"fine.txt"}));
}

TEST_F(Extraction, UnreadableArchivesRaiseTheArchiveErrorWithPath) {
    const QString missing = root.path() + "/missing.zip";
    KrvError e = errorOf(missing);
    EXPECT_EQ(e.number(), err::Archive);
    EXPECT_TRUE(e.description().contains(missing)) << e.description().toStdString();

    const QString garbage = root.path() + "/garbage.zip";
    writeFile(garbage, patterned(5000, 'g'));
    e = errorOf(garbage);
    EXPECT_EQ(e.number(), err::Archive);
    EXPECT_TRUE(e.description().contains(garbage));

    makeZip(archive, {{"a.bin", patterned(200000, 'a')}, {"b.bin", patterned(200000, 'b')}});
    const QString truncated = root.path() + "/truncated.zip";
    writeFile(truncated, readAll(archive).left(150000));
    e = errorOf(truncated);
    EXPECT_EQ(e.number(), err::Archive);
    EXPECT_TRUE(e.description().contains(truncated));
    EXPECT_TRUE(destFiles().isEmpty());
}

TEST_F(Extraction, DamagedMemberLeavesTheOldFilesAndNoTemporary) {
    writeFile(dest + "/b.bin", "old b");
    const QByteArray b = patterned(100000, 'b');
    makeZip(archive, {{"a.txt", "fresh a"}, {"b.bin", b}});
    QByteArray bytes = readAll(archive);
    // Flip bytes in the middle of b.bin's compressed data.
    const qsizetype at = bytes.indexOf("b.bin") + 40;
    for (int i = 0; i < 8; ++i)
        bytes[at + i] = static_cast<char>(~bytes[at + i]);
    writeFile(archive, bytes);
    const KrvError e = errorOf(archive);
    EXPECT_EQ(e.number(), err::Archive);
    EXPECT_TRUE(e.description().contains("b.bin")) << e.description().toStdString();
    // Nothing of a damaged archive is applied.
    EXPECT_EQ(readAll(dest + "/b.bin"), "old b");
    EXPECT_EQ(destFiles(), QStringList({"b.bin"}));
}

TEST_F(Extraction, FailingWriteLeavesTheOldFileAndNoTemporary) {
    writeFile(dest + "/big.bin", "old big");
    makeZip(archive, {{"big.bin", patterned(2 * 1024 * 1024, 'z')}});
    // A file-size limit makes the write fail as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 512 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::optional<KrvError> error;
    try {
        Descompacta(archive, "*.*", dest, 0);
    } catch (const KrvError& e) {
        error = e;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), err::Archive);
    EXPECT_TRUE(error->description().contains("big.bin"));
    EXPECT_TRUE(error->description().contains(archive));
    EXPECT_EQ(readAll(dest + "/big.bin"), "old big");
    EXPECT_EQ(destFiles(), QStringList({"big.bin"}));
}

TEST_F(Extraction, MissingDestinationIsAnError) {
    makeZip(archive, {{"a.txt", "a"}});
    dest = root.path() + "/nowhere";
    EXPECT_EQ(errorOf(archive).number(), err::Archive);
    EXPECT_FALSE(QFileInfo::exists(dest));
}

TEST_F(Extraction, ZipBombIsRefusedBeforeAnythingIsWritten) {
    makeZip(archive, {{"first.txt", "would be written"}, {"bomb.bin", QByteArray(4096, '\0')}});
    // Declare 3 GiB uncompressed for bomb.bin in its central-directory entry.
    QByteArray bytes = readAll(archive);
    const qsizetype cd = bytes.lastIndexOf(QByteArray("PK\x01\x02", 4));
    ASSERT_GT(cd, 0);
    ASSERT_EQ(bytes.mid(cd + 46, 8), "bomb.bin");
    const quint32 size = 3u * 1024 * 1024 * 1024;
    for (int i = 0; i < 4; ++i)
        bytes[cd + 24 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    writeFile(archive, bytes);
    const KrvError e = errorOf(archive);
    EXPECT_EQ(e.number(), err::Archive);
    EXPECT_TRUE(e.description().contains("bomb.bin")) << e.description().toStdString();
    EXPECT_TRUE(destFiles().isEmpty());
}

namespace {

using krv::test::centralEntry;
using krv::test::le;
using krv::test::putLe;
using krv::test::withSharedEntries;

// An archive the extraction must refuse as a whole: made in archive, next to an old
// "keep.bin" in dest that one of its members would replace.
struct RefusedArchive {
    const char* label;
    void (*make)(const QString& archive, const QString& dest);
    const char* reason; // part of the message
};

void growCompressedSize(const QString& archive, const QByteArray& member, quint32 by) {
    QByteArray bytes = readAll(archive);
    const qsizetype at = centralEntry(bytes, member);
    ASSERT_GT(at, 0);
    putLe(bytes, at + 20, 4, le(bytes, at + 20, 4) + by);
    writeFile(archive, bytes);
}

const RefusedArchive kRefused[] = {
    {"TwoEntriesShareOneStream",
     [](const QString& a, const QString&) {
         makeZip(a, {{"keep.bin", QByteArray(65536, '\0')}});
         writeFile(a, withSharedEntries(readAll(a), "keep.bin", {"copy.bin"}));
     },
     "entradas sobrepostas"},
    {"DataRunsIntoTheNextHeader",
     [](const QString& a, const QString&) {
         makeZip(a, {{"keep.bin", patterned(3000, 'k')}, {"b.bin", "b"}});
         growCompressedSize(a, "keep.bin", 10);
     },
     "keep.bin e b.bin ocupam o mesmo trecho"},
    {"DataRunsIntoTheDirectory",
     [](const QString& a, const QString&) {
         makeZip(a, {{"b.bin", "b"}, {"keep.bin", patterned(3000, 'k')}});
         growCompressedSize(a, "keep.bin", 10);
     },
     "keep.bin avançam sobre o diretório central"},
    {"SmallArchiveWritingOneGiB",
     [](const QString& a, const QString&) {
         QList<QByteArray> copies;
         for (int i = 1; i < 64; ++i)
             copies << "copy" + QByteArray::number(i) + ".bin";
         makeZip(a, {{"keep.bin", QByteArray(16 * 1024 * 1024, '\0')}});
         writeFile(a, withSharedEntries(readAll(a), "keep.bin", copies));
         ASSERT_LT(QFileInfo(a).size(), 32 * 1024);
     },
     "entradas sobrepostas"},
    {"MembersTogetherOverTheRatio",
     [](const QString& a, const QString&) {
         // Each declares 400 MiB (under the single-member limit) in a file of a few KiB.
         makeZip(a, {{"keep.bin", "k"}, {"b.bin", "b"}, {"c.bin", "c"}});
         QByteArray bytes = readAll(a);
         for (const char* m : {"keep.bin", "b.bin", "c.bin"})
             putLe(bytes, centralEntry(bytes, m) + 24, 4, 400u * 1024 * 1024);
         writeFile(a, bytes);
     },
     "tamanho descompactado total desproporcional"},
    {"MoreThanTheFreeSpaceLessTheMargin",
     [](const QString& a, const QString&) {
         runs::setFreeSpaceProbe([](const QString&) { return std::uint64_t(40) << 20; });
         makeZip(a, {{"keep.bin", patterned(5 << 20, 'k')}, {"b.bin", patterned(4 << 20, 'b')}});
     },
     "espaço livre insuficiente"},
    {"MemberNamesAFolder",
     [](const QString& a, const QString& d) {
         QDir().mkpath(d + "/update");
         makeZip(a, {{"keep.bin", "new"}, {"x/update", "not a folder"}, {"caixa.exe", "c"}});
     },
     "x/update do arquivo compactado"},
    {"MemberNamesASymbolicLink",
     [](const QString& a, const QString& d) {
         QFile::link(d + "/keep.bin", d + "/link.dll");
         makeZip(a, {{"keep.bin", "new"}, {"link.dll", "l"}});
     },
     "link.dll não é um arquivo comum"},
};

class Refused : public Extraction, public ::testing::WithParamInterface<RefusedArchive> {
protected:
    void TearDown() override { runs::setFreeSpaceProbe({}); }
};

} // namespace

TEST_P(Refused, BeforeAnythingIsWritten) {
    writeFile(dest + "/keep.bin", "old");
    GetParam().make(archive, dest);
    const QStringList before = destFiles();
    const KrvError e = errorOf(archive);
    EXPECT_EQ(e.number(), err::Archive);
    EXPECT_TRUE(e.description().contains(archive)) << e.description().toStdString();
    EXPECT_TRUE(e.description().contains(QString::fromUtf8(GetParam().reason)))
        << e.description().toStdString();
    EXPECT_EQ(destFiles(), before);
    EXPECT_EQ(readAll(dest + "/keep.bin"), "old");
}

INSTANTIATE_TEST_SUITE_P(Archives, Refused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Extraction, FreeSpaceForTheMembersAndTheMarginIsEnough) {
    const std::uint64_t margin = 32u << 20;
    runs::setFreeSpaceProbe([&](const QString& folder) {
        EXPECT_EQ(folder, dest);
        return margin + 5;
    });
    makeZip(archive, {{"a.txt", "abc"}, {"b.txt", "de"}});
    Descompacta(archive, "*.*", dest, 0);
    runs::setFreeSpaceProbe({});
    EXPECT_EQ(destFiles(), QStringList({"a.txt", "b.txt"}));
}

TEST(ExtractionLeftovers, OnlyTemporariesWhoseWriterEndedAreRemoved) {
    QTemporaryDir d;
    const QString p = d.path() + "/";
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForStarted());
    const QString gone = QString::number(ended.processId());
    ASSERT_TRUE(ended.waitForFinished());
    const QString ours = QString::number(QCoreApplication::applicationPid());
    writeFile(p + ".krv-extract-" + ours + "-aaaaaa", "being written");
    writeFile(p + ".krv-extract-" + gone + "-bbbbbb", "left by a killed run");
    writeFile(p + ".krv-extract-cccccc", "left by an older version");
    writeFile(p + "krv-extract-" + gone + "-dddddd", "not ours");
    QDir().mkpath(p + ".krv-extract-" + gone + "-pasta");
    QFile::link(p + "krv-extract-" + gone + "-dddddd", p + ".krv-extract-" + gone + "-link");
    runs::removeEndedExtractions(d.path());
    QStringList left =
        QDir(d.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QStringList kept({".krv-extract-" + gone + "-pasta", ".krv-extract-" + gone + "-link",
                      ".krv-extract-" + ours + "-aaaaaa", "krv-extract-" + gone + "-dddddd"});
    left.sort();
    kept.sort();
    EXPECT_EQ(left, kept);
}

TEST(ExtractionLeftovers, AnAssistantSetAsideIsPutBackOnlyWhenMissing) {
    struct Case {
        const char* assistant; // nullptr: missing
        const char* setAside;
        const char* after;
    };
    for (const Case c : {Case{nullptr, "velho", "velho"}, Case{"novo", "velho", "novo"},
                         Case{"novo", nullptr, "novo"}, Case{nullptr, nullptr, "<missing>"}}) {
        QTemporaryDir d;
        if (c.assistant)
            writeFile(d.path() + "/zelvor", c.assistant);
        if (c.setAside)
            writeFile(d.path() + "/zelvor.old", c.setAside);
        runs::clearLeftovers(d.path());
        EXPECT_EQ(readAll(d.path() + "/zelvor"), c.after);
        EXPECT_FALSE(QFile::exists(d.path() + "/zelvor.old"));
    }
}

TEST_F(Extraction, AReplacedProgramKeepsItsExecuteBits) {
    writeFile(dest + "/zelvor", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(dest + "/zelvor").constData(), 0750), 0);
    makeZip(archive, {{"zelvor", "new", S_IFREG | 0640}});
    Descompacta(archive, "*.*", dest, 0);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(dest + "/zelvor").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(readAll(dest + "/zelvor"), "new");
}
