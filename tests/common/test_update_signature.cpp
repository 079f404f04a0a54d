// Update signatures: the verification unit and the maker's krv-sign tool, on real files.
#include "common/release_manifest.h"
#include "common/update_signature.h"
#include "make_zip.h"
#include "pe_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace krv::signature;

namespace {

struct Tool {
    int exitCode = -1;
    QString out;
};

Tool krvSign(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(KRV_SIGN_BIN, args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// A folder with two key pairs (ours and another maker's) and a signed archive of 200 KiB, so
// the stream crosses several read chunks.
class Signed : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        for (const char* k : {"ours", "theirs"}) {
            const Tool t = krvSign({"keygen", dir.filePath(k)});
            ASSERT_EQ(t.exitCode, 0) << qPrintable(t.out);
        }
        QByteArray content;
        for (int i = 0; i < 200 * 1024; ++i)
            content.append(char(i * 7 + i / 251));
        write(file(), content);
        const Tool t = krvSign({"sign", dir.filePath("ours/krv-sign.key"), file()});
        ASSERT_EQ(t.exitCode, 0) << qPrintable(t.out);
    }
    QString file() const { return dir.filePath("KRVSIS0132.ZIP"); }
    TrustedKey key(const char* who) const {
        return loadTrustedKey({}, dir.filePath(QString(who) + "/krv-sign.pub"));
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Signed, KeygenWritesASecretOnlyItsOwnerReadsAndRefusesToOverwriteIt) {
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("ours/krv-sign.key")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readAll(dir.filePath("ours/krv-sign.pub")).size(), 45); // 44 base64 + line end
    EXPECT_TRUE(decodeLine(readAll(dir.filePath("ours/krv-sign.pub")), PublicKeyBytes));
    const QByteArray before = readAll(dir.filePath("ours/krv-sign.key"));
    const Tool again = krvSign({"keygen", dir.filePath("ours")});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_EQ(readAll(dir.filePath("ours/krv-sign.key")), before);
}

TEST_F(Signed, RoundTripVerifiesWithTheToolAndTheUnit) {
    const QByteArray sig = readAll(signaturePath(file()));
    EXPECT_TRUE(sig.endsWith('\n'));
    EXPECT_TRUE(decodeLine(sig, SignatureBytes));
    const Tool t = krvSign({"verify", dir.filePath("ours/krv-sign.pub"), file()});
    EXPECT_EQ(t.exitCode, 0) << qPrintable(t.out);
    EXPECT_TRUE(verifyFile(file(), signaturePath(file()), key("ours")).valid());
}

// Each case spoils the signed pair in one way; the unit and the tool must both refuse it.
TEST_F(Signed, EverySpoiledPairIsRefusedWithItsReason) {
    const struct {
        const char* name;
        std::function<void(Signed&)> spoil;
        Verdict verdict;
        const char* reasonPart;
    } cases[] = {
        {"flipped byte",
         [](Signed& s) {
             QByteArray b = readAll(s.file());
             b[100000] = char(b[100000] ^ 0x01);
             write(s.file(), b);
         },
         Verdict::Mismatch, "não confere com o arquivo KRVSIS0132.ZIP"},
        {"truncated file", [](Signed& s) { write(s.file(), readAll(s.file()).left(150 * 1024)); },
         Verdict::Mismatch, "não confere"},
        {"another key's signature",
         [](Signed& s) {
             ASSERT_EQ(krvSign({"sign", s.dir.filePath("theirs/krv-sign.key"), s.file()}).exitCode,
                       0);
         },
         Verdict::Mismatch, "outra chave"},
        {"missing signature", [](Signed& s) { QFile::remove(signaturePath(s.file())); },
         Verdict::SignatureMissing, "KRVSIS0132.ZIP.sig não foi encontrada"},
        {"signature not base64", [](Signed& s) { write(signaturePath(s.file()), "not*base64\n"); },
         Verdict::SignatureMalformed, "KRVSIS0132.ZIP.sig não está no formato esperado"},
        {"signature a byte short",
         [](Signed& s) {
             write(signaturePath(s.file()),
                   encodeLine(decodeLine(readAll(signaturePath(s.file())), 64)->left(63)));
         },
         Verdict::SignatureMalformed, "formato esperado"},
        {"empty signature", [](Signed& s) { write(signaturePath(s.file()), ""); },
         Verdict::SignatureMalformed, "formato esperado"},
        {"two signatures in one file",
         [](Signed& s) {
             const QByteArray line = readAll(signaturePath(s.file()));
             write(signaturePath(s.file()), line + line);
         },
         Verdict::SignatureMalformed, "formato esperado"},
    };
    const QByteArray original = readAll(file());
    const QByteArray originalSig = readAll(signaturePath(file()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(file(), original);
        write(signaturePath(file()), originalSig);
        c.spoil(*this);
        const Check check = verifyFile(file(), signaturePath(file()), key("ours"));
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_TRUE(check.reason.contains(QString::fromUtf8(c.reasonPart)))
            << qPrintable(check.reason);
        const Tool t = krvSign({"verify", dir.filePath("ours/krv-sign.pub"), file()});
        EXPECT_EQ(t.exitCode, 1) << qPrintable(t.out);
    }
}

TEST_F(Signed, VerifyFailsWhenAnyOfSeveralFilesFails) {
    const QString good = dir.filePath("krv.mdb");
    write(good, "reference database");
    ASSERT_EQ(krvSign({"sign", dir.filePath("ours/krv-sign.key"), good}).exitCode, 0);
    EXPECT_EQ(krvSign({"verify", dir.filePath("ours/krv-sign.pub"), good, file()}).exitCode, 0);
    QFile::remove(signaturePath(file()));
    const Tool t = krvSign({"verify", dir.filePath("ours/krv-sign.pub"), good, file()});
    EXPECT_EQ(t.exitCode, 1);
    EXPECT_TRUE(t.out.contains("OK " + good)) << qPrintable(t.out);
}

TEST(TrustedKeys, CompiledInWinsThenTheFileThenNone) {
    QTemporaryDir dir;
    const QString pub = dir.filePath("zelvor.pub");
    const QByteArray a = encodeLine(QByteArray(32, 'a')), b = encodeLine(QByteArray(32, 'b'));
    write(pub, a);
    const struct {
        const char* name;
        QByteArray compiledIn;
        QByteArray fileContent; // empty: no file
        TrustedKey::State state;
        QByteArray keyBytes; // the first byte of each key, in order
    } cases[] = {
        {"file only", "", a, TrustedKey::State::Valid, "a"},
        {"compiled in over the file", b, a, TrustedKey::State::Valid, "b"},
        {"neither", "", "", TrustedKey::State::None, ""},
        {"file with CRLF", "", a.trimmed() + "\r\n", TrustedKey::State::Valid, "a"},
        {"file that is not a key", "", "hello\n", TrustedKey::State::Malformed, ""},
        {"file with a 31-byte key", "", encodeLine(QByteArray(31, 'a')),
         TrustedKey::State::Malformed, ""},
        {"compiled in but malformed", "zz", a, TrustedKey::State::Malformed, ""},
        {"new and old key, one a line, blank lines between", "", b + "\r\n\n" + a,
         TrustedKey::State::Valid, "ba"},
        {"two compiled in, as a build setting lists them", a.trimmed() + ";" + b.trimmed(), "",
         TrustedKey::State::Valid, "ab"},
        {"a key and a damaged line", "", a + "hello\n", TrustedKey::State::Malformed, ""},
        {"only blank lines", "", "\n\n", TrustedKey::State::Malformed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(pub);
        if (!c.fileContent.isEmpty())
            write(pub, c.fileContent);
        const TrustedKey k = loadTrustedKey(c.compiledIn, pub);
        EXPECT_EQ(k.state, c.state);
        QByteArray firsts;
        for (const PublicKey& key : k.keys)
            firsts += char(key[0]);
        EXPECT_EQ(firsts, c.keyBytes);
    }
}

TEST(TrustedKeys, AMalformedKeyRefusesEveryFileRatherThanTrustingIt) {
    QTemporaryDir dir;
    write(dir.filePath("f"), "x");
    write(dir.filePath("f.sig"), encodeLine(QByteArray(64, 'x')));
    const TrustedKey k = loadTrustedKey("not a key", {});
    const Check c = verifyFile(dir.filePath("f"), dir.filePath("f.sig"), k);
    EXPECT_EQ(c.verdict, Verdict::KeyMalformed);
    EXPECT_TRUE(c.reason.contains("chave")) << qPrintable(c.reason);
}

// krv-sign release and verify-release on a real release folder: a module archive carrying a
// PE module, the menu file (its version given), a file with no version; then the ways a
// folder or a later release can go wrong.
TEST_F(Signed, ReleaseListsEveryFileAndVerifyReleaseChecksTheFolder) {
    const QString rel = dir.filePath("release");
    QDir().mkpath(rel);
    krv::test::PeBuilder pe(dir.path());
    const QString module = pe.withVersion("control.exe", 1, 32, 0, 0);
    ASSERT_FALSE(module.isEmpty()) << qPrintable(pe.error());
    krv::test::makeZip(rel + "/control01.32.00.zip", {{"bin/control.exe", readAll(module)}});
    write(rel + "/mnusis_cs.krv", "menu\r\n");
    write(rel + "/leiame.txt", "notas");
    write(rel + "/leiame.txt.sig", "an older installation's signature, never listed");
    const QString key = dir.filePath("ours/krv-sign.key");
    const Tool made =
        krvSign({"release", key, rel, "--valid-days", "30", "--version", "mnusis_cs.krv=000011"});
    ASSERT_EQ(made.exitCode, 0) << qPrintable(made.out);
    const auto listed = krv::manifest::parse(readAll(rel + "/manifesto.json"));
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->serial, 1);
    EXPECT_EQ(listed->issued.daysTo(listed->expires), 30);
    QStringList seen;
    for (const krv::manifest::Entry& e : listed->files)
        seen << e.name + " " + krv::manifest::kindText(e.kind) + " " + e.version;
    EXPECT_EQ(seen, QStringList({"control01.32.00.zip module 01.32.00", "leiame.txt other ",
                                 "mnusis_cs.krv menu 000011"}));
    EXPECT_EQ(listed->find("CONTROL01.32.00.ZIP")->size,
              QFileInfo(rel + "/control01.32.00.zip").size());

    const QString ours = dir.filePath("ours/krv-sign.pub");
    const QString both = dir.filePath("both.pub"); // a new key beside the old one
    write(both, readAll(dir.filePath("theirs/krv-sign.pub")) + readAll(ours));
    const QByteArray manifest = readAll(rel + "/manifesto.json");
    const struct {
        const char* name;
        QStringList args;             // the command
        std::function<void()> before; // what is done to the folder first
        int exitCode;
        const char* said; // part of the output
    } cases[] = {
        {"the folder as released", {"verify-release", ours, rel}, [] {}, 0, "OK mnusis_cs.krv"},
        {"a key file holding the new and the old key",
         {"verify-release", both, rel},
         [] {},
         0,
         "serial 1"},
        {"another maker's key",
         {"verify-release", dir.filePath("theirs/krv-sign.pub"), rel},
         [] {},
         1,
         "não confere"},
        {"a listed file changed",
         {"verify-release", ours, rel},
         [&] { write(rel + "/leiame.txt", "notas novas"); },
         1,
         "leiame.txt: differs"},
        {"a file the manifest lacks",
         {"verify-release", ours, rel},
         [&] { write(rel + "/extra.zip", "x"); },
         1,
         "extra.zip: not listed"},
        {"a serial not above the folder's",
         {"release", key, rel, "--serial", "1"},
         [] {},
         1,
         "serial 1 is not above the serial 1"},
        {"a version the file contradicts",
         {"release", key, rel, "--version", "control01.32.00.zip=01.40.00"},
         [] {},
         1,
         "carries version 01.32.00"},
        {"a version for a file not there",
         {"release", key, rel, "--version", "x.krv=1"},
         [] {},
         1,
         "x.krv"},
        {"a stage above 100 %",
         {"release", key, rel, "--rollout", "150@2026-12-10"},
         [] {},
         2,
         "--rollout PERCENT@TIME"},
        {"a withdrawal of the database",
         {"release", key, rel, "--withdraw", "database:krv=1"},
         [] {},
         2,
         "--withdraw KIND:NAME=VERSION"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(rel + "/leiame.txt", "notas");
        QFile::remove(rel + "/extra.zip");
        c.before();
        const Tool t = krvSign(c.args);
        EXPECT_EQ(t.exitCode, c.exitCode) << qPrintable(t.out);
        EXPECT_TRUE(t.out.contains(c.said)) << qPrintable(t.out);
        EXPECT_EQ(readAll(rel + "/manifesto.json"), manifest); // a refused release writes nothing
    }
    write(rel + "/leiame.txt", "notas");
    QFile::remove(rel + "/extra.zip");
    const Tool next = krvSign({"release", key, rel, "--version", "mnusis_cs.krv=000012"});
    ASSERT_EQ(next.exitCode, 0) << qPrintable(next.out);
    EXPECT_EQ(krv::manifest::parse(readAll(rel + "/manifesto.json"))->serial, 2);
    EXPECT_EQ(krvSign({"verify-release", ours, rel}).exitCode, 0);

    // Steered again: the same files, only the steering changes.
    const auto before = krv::manifest::parse(readAll(rel + "/manifesto.json"));
    const Tool steered =
        krvSign({"release", key, rel, "--version", "mnusis_cs.krv=000012", "--rollout",
                 "12.5@2026-12-10T03:00", "--halt", "--minimum", "module:control=01.30.00"});
    ASSERT_EQ(steered.exitCode, 0) << qPrintable(steered.out);
    const auto after = krv::manifest::parse(readAll(rel + "/manifesto.json"));
    ASSERT_TRUE(before && after);
    EXPECT_EQ(after->serial, 3);
    ASSERT_EQ(after->files.size(), before->files.size());
    for (qsizetype i = 0; i < after->files.size(); ++i)
        EXPECT_EQ(after->files[i].sha256 + after->files[i].version,
                  before->files[i].sha256 + before->files[i].version);
    EXPECT_TRUE(after->steering.halted);
    ASSERT_EQ(after->steering.stages.size(), 1);
    EXPECT_EQ(after->steering.stages[0].from,
              QDateTime::fromString("2026-12-10T03:00:00Z", Qt::ISODate));
    const Tool read = krvSign({"verify-release", ours, rel});
    EXPECT_EQ(read.exitCode, 0) << qPrintable(read.out);
    EXPECT_TRUE(read.out.contains("rollout 12.5% from 2026-12-10T03:00:00Z\nhalted\nminimum "
                                  "module:control=01.30.00\n"))
        << qPrintable(read.out);
}

// What the installation's reader refuses of a manifest, each the way a forger or a broken
// publishing step would write it.
TEST(ManifestReader, RefusesEveryMalformedManifest) {
    const QByteArray hash(64, 'a');
    const auto doc = [&](const QByteArray& serial, const QByteArray& files,
                         const QByteArray& expires = "2030-01-01T00:00:00Z") {
        return "{\"serial\":" + serial + ",\"issued\":\"2026-01-01T00:00:00Z\",\"expires\":\"" +
               expires + "\",\"files\":[" + files + "]}";
    };
    const QByteArray file =
        "{\"name\":\"krv.mdb\",\"size\":10,\"sha256\":\"" + hash + "\",\"kind\":\"database\"}";
    // An archive with its members, and a delta for archive (its closing bracket and the root's
    // "deltas" field: files are the last field doc writes).
    const QByteArray hash2(64, 'b');
    const QByteArray module = file + ",{\"name\":\"control01.32.00.zip\",\"size\":9,\"sha256\":\"" +
                              hash +
                              "\",\"kind\":\"module\",\"members\":[{\"name\":\"control.exe\"," +
                              "\"size\":20,\"sha256\":\"" + hash2 + "\"}]}";
    const auto delta = [&](const QByteArray& archive) {
        return "\"deltas\":[{\"name\":\"control01.31.00-01.32.00.delta\",\"archive\":" + archive +
               ",\"size\":5,\"sha256\":\"" + hash + "\",\"algorithm\":\"zstd-patch\"," +
               "\"window\":1048576,\"from_version\":\"01.31.00\",\"sources\":[{\"name\":" +
               "\"control.exe\",\"size\":19,\"sha256\":\"" + hash2 + "\"}]}";
    };
    const struct {
        const char* name;
        QByteArray json;
        bool accepted;
    } cases[] = {
        {"well formed", doc("7", file), true},
        {"not JSON", "serial: 7", false},
        {"serial a text", doc("\"7\"", file), false},
        {"serial a fraction", doc("7.5", file), false},
        {"serial negative", doc("-1", file), false},
        {"expires before issued", doc("7", file, "2025-01-01T00:00:00Z"), false},
        {"time without its zone", doc("7", file, "2030-01-01T00:00:00"), false},
        {"a name with a folder", doc("7", QByteArray(file).replace("krv.mdb", "../krv.mdb")),
         false},
        {"a kind the name contradicts", doc("7", QByteArray(file).replace("database", "module")),
         false},
        {"a short hash", doc("7", QByteArray(file).replace(hash, hash.left(63))), false},
        {"upper-case hash", doc("7", QByteArray(file).replace(hash, QByteArray(64, 'A'))), false},
        {"a hash with a line break after it",
         doc("7", QByteArray(file).replace(hash, hash + "\\n")), false},
        {"a time with a line break after it", doc("7", file, "2030-01-01T00:00:00Z\\n"), false},
        {"a negative size", doc("7", QByteArray(file).replace("10", "-10")), false},
        {"the same file twice, in other case",
         doc("7", file + "," + QByteArray(file).replace("krv.mdb", "KRV.MDB")), false},
        {"a version that is a number", doc("7", QByteArray(file).replace("}", ",\"version\":132}")),
         false},
        {"larger than a manifest may be", doc("7", file) + QByteArray(krv::manifest::MaxBytes, ' '),
         false},
        {"fields a newer maker added, ignored",
         doc("7", QByteArray(file).replace("}", ",\"rollout\":{\"stage\":1}}")), true},
        {"an archive with its members", doc("7", module + "]," + delta("\"control01.32.00.zip\"")),
         true},
        {"a member with a short hash", doc("7", QByteArray(module).replace(hash2, hash2.left(60))),
         false},
        {"a delta for an archive not listed",
         doc("7", module + "]," + delta("\"krvsis01.32.00.zip\"")), false},
        {"a delta without a window",
         doc("7",
             module + "]," +
                 QByteArray(delta("\"control01.32.00.zip\"")).replace("\"window\":1048576,", "")),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString why;
        const auto m = krv::manifest::parse(c.json, &why);
        EXPECT_EQ(m.has_value(), c.accepted) << qPrintable(why);
        if (m) {
            const auto again = krv::manifest::parse(krv::manifest::serialize(*m));
            EXPECT_EQ(again->files.first().sha256, QString::fromLatin1(hash));
            EXPECT_EQ(again->files.last().members.size(), m->files.last().members.size());
            ASSERT_EQ(again->deltas.size(), m->deltas.size());
            for (const auto& d : again->deltas)
                EXPECT_EQ(d.sources.first().size, 19);
        } else
            EXPECT_FALSE(why.isEmpty());
    }
}

// Deltas from the two releases before: one per earlier version of each module, listed with
// what they expect installed and verified with the release; a delta that saves too little
// (a module rebuilt from scratch) is left out.
TEST_F(Signed, ReleaseWithDeltasMakesListsAndVerifiesThem) {
    krv::test::PeBuilder pe(dir.path());
    QByteArray body;
    for (int i = 0; i < 64 * 1024; ++i)
        body.append(char((i * 2654435761u) >> 13));
    const QString key = dir.filePath("ours/krv-sign.key"), pub = dir.filePath("ours/krv-sign.pub");
    const auto publish = [&](const QString& folder, int minor, const QStringList& extra) {
        QDir().mkpath(folder);
        const QString exe = pe.withVersion(QString("control%1.exe").arg(minor), 1, minor, 0, 0);
        ASSERT_FALSE(exe.isEmpty()) << qPrintable(pe.error());
        QByteArray changed = body;
        changed.replace(1000 * minor, 500, QByteArray(500, char(minor)));
        const QString version = QString("01.%1.00").arg(minor);
        krv::test::makeZip(folder + "/control" + version + ".zip",
                           {{"control.exe", readAll(exe) + changed}, {"leiame.txt", "notas"}});
        // A module whose every byte changes between versions.
        QByteArray other(32 * 1024, '\0');
        QRandomGenerator(minor).fillRange(reinterpret_cast<quint32*>(other.data()), 8 * 1024);
        const QString caixa = pe.withVersion(QString("caixa%1.exe").arg(minor), 1, minor, 0, 0);
        krv::test::makeZip(folder + "/caixa" + version + ".zip",
                           {{"caixa.exe", readAll(caixa) + other}});
        const Tool t = krvSign(QStringList{"release", key, folder} + extra);
        ASSERT_EQ(t.exitCode, 0) << qPrintable(t.out);
    };
    const QString n2 = dir.filePath("r30"), n1 = dir.filePath("r31"), now = dir.filePath("r32");
    publish(n2, 30, {});
    publish(n1, 31, {});
    publish(now, 32, {"--delta-from", n1, "--delta-from", n2});
    const auto m = krv::manifest::parse(readAll(now + "/manifesto.json"));
    ASSERT_TRUE(m);
    QStringList listed;
    for (const auto& d : m->deltas)
        listed << d.name + " " + d.archive + " " + d.fromVersion + " " + d.algorithm;
    EXPECT_EQ(listed, QStringList({"control01.31.00-01.32.00.delta control01.32.00.zip 01.31.00 "
                                   "zstd-patch",
                                   "control01.30.00-01.32.00.delta control01.32.00.zip 01.30.00 "
                                   "zstd-patch"}));
    EXPECT_FALSE(QFileInfo::exists(now + "/caixa01.31.00-01.32.00.delta"));
    const auto* control = m->find("control01.32.00.zip");
    ASSERT_EQ(control->members.size(), 2);
    EXPECT_EQ(control->members[0].name, "control.exe");
    for (const auto& d : m->deltas) {
        EXPECT_LE(double(d.size), 0.2 * double(control->size)) << qPrintable(d.name);
        EXPECT_EQ(d.size, QFileInfo(now + "/" + d.name).size());
        // What it expects installed: the earlier release's members.
        const auto from = krv::manifest::parse(
            readAll((d.fromVersion == "01.31.00" ? n1 : n2) + "/manifesto.json"));
        EXPECT_EQ(d.sources.size(), 2);
        EXPECT_EQ(d.sources[0].sha256,
                  from->find("control" + d.fromVersion + ".zip")->members[0].sha256);
        EXPECT_NE(d.sources[0].sha256, control->members[0].sha256);
    }
    const Tool verified = krvSign({"verify-release", pub, now});
    EXPECT_EQ(verified.exitCode, 0) << qPrintable(verified.out);
    EXPECT_TRUE(verified.out.contains("OK control01.30.00-01.32.00.delta"))
        << qPrintable(verified.out);
    QByteArray spoiled = readAll(now + "/control01.30.00-01.32.00.delta");
    spoiled[20] = char(spoiled[20] ^ 1);
    write(now + "/control01.30.00-01.32.00.delta", spoiled);
    write(now + "/stray.delta", "x");
    const Tool refused = krvSign({"verify-release", pub, now});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.contains("control01.30.00-01.32.00.delta: differs"))
        << qPrintable(refused.out);
    EXPECT_TRUE(refused.out.contains("stray.delta: not listed")) << qPrintable(refused.out);
}
