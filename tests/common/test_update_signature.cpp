// Update signatures: the verification unit and the maker's krv-sign tool, on real files.
#include "common/update_signature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
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
        char keyByte;
    } cases[] = {
        {"file only", "", a, TrustedKey::State::Valid, 'a'},
        {"compiled in over the file", b, a, TrustedKey::State::Valid, 'b'},
        {"neither", "", "", TrustedKey::State::None, 0},
        {"file with CRLF", "", a.trimmed() + "\r\n", TrustedKey::State::Valid, 'a'},
        {"file that is not a key", "", "hello\n", TrustedKey::State::Malformed, 0},
        {"file with a 31-byte key", "", encodeLine(QByteArray(31, 'a')),
         TrustedKey::State::Malformed, 0},
        {"compiled in but malformed", "zz", a, TrustedKey::State::Malformed, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(pub);
        if (!c.fileContent.isEmpty())
            write(pub, c.fileContent);
        const TrustedKey k = loadTrustedKey(c.compiledIn, pub);
        EXPECT_EQ(k.state, c.state);
        if (c.keyByte) {
            EXPECT_EQ(k.key[0], static_cast<unsigned char>(c.keyByte));
        }
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
