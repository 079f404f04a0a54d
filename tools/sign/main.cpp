// krv-sign: the maker's signing tool for update files. See docs/signing.md.
//   krv-sign keygen DIR            writes DIR/krv-sign.key (secret, 0600) and DIR/krv-sign.pub
//   krv-sign sign KEYFILE FILE...  writes FILE.sig beside each FILE
//   krv-sign verify PUBFILE FILE... exit status 0 only when every FILE verifies
#include "common/update_signature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace krv::signature;

namespace {

int usage() {
    std::fprintf(stderr, "usage: krv-sign keygen DIR\n"
                         "       krv-sign sign KEYFILE FILE...\n"
                         "       krv-sign verify PUBFILE FILE...\n");
    return 2;
}

int fail(const QString& text) {
    std::fprintf(stderr, "krv-sign: %s\n", qPrintable(text));
    return 1;
}

// The secret key is created only readable by its owner and never over an existing one: a
// maker who runs keygen twice must not lose the key the installations trust.
bool writeSecret(const QString& path, const QByteArray& content) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.constData() + done, content.size() - done);
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(QFile::encodeName(path).constData());
    return ok;
}

bool writeAtomically(const QString& path, const QByteArray& content) {
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.commit();
}

int keygen(const QString& dir) {
    if (!QDir().mkpath(dir))
        return fail("cannot create the folder " + dir);
    const QString secretPath = QDir(dir).filePath("krv-sign.key");
    const QString publicPath = QDir(dir).filePath("krv-sign.pub");
    if (QFileInfo::exists(secretPath) || QFileInfo::exists(publicPath))
        return fail("a key already exists in " + dir + "; not overwritten");
    QByteArray pk(PublicKeyBytes, '\0'), sk(SecretKeyBytes, '\0');
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(pk.data()),
                        reinterpret_cast<unsigned char*>(sk.data()));
    const QByteArray secretLine = encodeLine(sk);
    sodium_memzero(sk.data(), sk.size());
    if (!writeSecret(secretPath, secretLine))
        return fail("cannot write " + secretPath);
    if (!writeAtomically(publicPath, encodeLine(pk)))
        return fail("cannot write " + publicPath);
    std::printf("%s\n%s\n", qPrintable(secretPath), qPrintable(publicPath));
    return 0;
}

int sign(const QString& keyFile, const QStringList& files) {
    QFile f(keyFile);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 4096)
        return fail("cannot read the secret key " + keyFile);
    auto sk = decodeLine(f.readAll(), SecretKeyBytes);
    if (!sk)
        return fail(keyFile + " is not a secret key written by krv-sign keygen");
    int status = 0;
    for (const QString& file : files) {
        const auto signature = signFile(file, *sk);
        if (!signature || !writeAtomically(signaturePath(file), encodeLine(*signature))) {
            status = fail("cannot sign " + file);
            continue;
        }
        std::printf("%s\n", qPrintable(signaturePath(file)));
    }
    sodium_memzero(sk->data(), sk->size());
    return status;
}

int verify(const QString& publicFile, const QStringList& files) {
    const TrustedKey key = loadTrustedKey({}, publicFile);
    if (key.state != TrustedKey::State::Valid)
        return fail(publicFile + " is not a public key written by krv-sign keygen");
    int status = 0;
    for (const QString& file : files) {
        const Check c = verifyFile(file, signaturePath(file), key);
        if (c.valid())
            std::printf("OK %s\n", qPrintable(file));
        else
            status = fail(file + ": " + c.reason);
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (sodium_init() < 0)
        return fail("libsodium could not be initialised");
    if (args.size() == 2 && args[0] == "keygen")
        return keygen(args[1]);
    if (args.size() >= 3 && args[0] == "sign")
        return sign(args[1], args.mid(2));
    if (args.size() >= 3 && args[0] == "verify")
        return verify(args[1], args.mid(2));
    return usage();
}
