#include "release_signer.h"

#include "common/update_signature.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <sodium.h>
#include <stdexcept>

namespace krv::test {

ReleaseSigner::ReleaseSigner()
    : pk_(signature::PublicKeyBytes, '\0'), sk_(signature::SecretKeyBytes, '\0') {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium did not start");
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(pk_.data()),
                        reinterpret_cast<unsigned char*>(sk_.data()));
    QFile key(dir_.filePath("krv-sign.key"));
    if (!key.open(QIODevice::WriteOnly) || key.write(signature::encodeLine(sk_)) <= 0)
        throw std::runtime_error("cannot write the test's secret key");
}

QByteArray ReleaseSigner::publicLine() const {
    return signature::encodeLine(pk_);
}

bool ReleaseSigner::release(const QString& folder, qint64 serial,
                            const QMap<QString, QString>& versions, QString* output,
                            const QStringList& options) const {
    // Each call a release of its own: the folder's earlier manifest does not hold the serial.
    QFile::remove(QDir(folder).filePath(manifest::FileName));
    QStringList args{"release", dir_.filePath("krv-sign.key"), folder, "--serial",
                     QString::number(serial)};
    for (auto it = versions.begin(); it != versions.end(); ++it)
        args << "--version" << it.key() + "=" + it.value();
    args << options;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(KRV_SIGN_BIN, args);
    p.waitForFinished(60000);
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void ReleaseSigner::resign(const QString& folder,
                           const std::function<void(manifest::Manifest&)>& edit) const {
    const QString path = QDir(folder).filePath(manifest::FileName);
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error("no manifest to sign again");
    auto m = manifest::parse(in.readAll());
    in.close();
    if (!m)
        throw std::runtime_error("the manifest does not read");
    edit(*m);
    const QByteArray text = manifest::serialize(*m);
    QFile out(path), sig(path + ".sig");
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size() ||
        !sig.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        sig.write(signature::encodeLine(signature::signBytes(text, sk_))) <= 0)
        throw std::runtime_error("cannot write the manifest");
}

} // namespace krv::test
