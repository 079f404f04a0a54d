#include "common/update_signature.h"

#include "build_info.h"
#include "platform/program.h"

#include <QFile>
#include <QFileInfo>
#include <sodium.h>

namespace krv::signature {

namespace {

// A signature or key file is one short line; anything longer is not one.
constexpr qint64 MaxLineFile = 4096;
constexpr qint64 Chunk = 1 << 16;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Feeds the whole file to the multi-part state; false when it cannot be read to its end.
bool feedFile(crypto_sign_state& state, const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray buffer(Chunk, Qt::Uninitialized);
    for (;;) {
        const qint64 n = f.read(buffer.data(), Chunk);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(buffer.constData()),
                           static_cast<unsigned long long>(n));
    }
}

QString name(const QString& path) {
    return QFileInfo(path).fileName();
}

} // namespace

QString signaturePath(const QString& file) {
    return file + ".sig";
}

std::optional<QByteArray> decodeLine(const QByteArray& text, int size) {
    if (!sodiumReady())
        return std::nullopt;
    const QByteArray line = text.trimmed();
    if (line.isEmpty() || line.contains('\n'))
        return std::nullopt;
    QByteArray out(size, '\0');
    size_t written = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), out.size(),
                          line.constData(), line.size(), nullptr, &written, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return std::nullopt;
    if (end != line.constData() + line.size() || written != static_cast<size_t>(size))
        return std::nullopt;
    return out;
}

QByteArray encodeLine(const QByteArray& bytes) {
    sodiumReady();
    QByteArray out(static_cast<qsizetype>(
                       sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL)),
                   '\0');
    sodium_bin2base64(out.data(), out.size(),
                      reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.truncate(static_cast<qsizetype>(qstrlen(out.constData())));
    return out + '\n';
}

TrustedKey loadTrustedKey(const QByteArray& compiledIn, const QString& keyFile) {
    TrustedKey k;
    QByteArray text;
    if (!compiledIn.trimmed().isEmpty()) {
        k.source = "chave embutida no programa";
        text = compiledIn;
    } else {
        const QFileInfo fi(keyFile);
        if (!fi.exists())
            return k;
        k.source = keyFile;
        QFile f(keyFile);
        if (!fi.isFile() || fi.size() > MaxLineFile || !f.open(QIODevice::ReadOnly)) {
            k.state = TrustedKey::State::Malformed;
            return k;
        }
        text = f.readAll();
    }
    const auto bytes = decodeLine(text, PublicKeyBytes);
    if (!bytes) {
        k.state = TrustedKey::State::Malformed;
        return k;
    }
    std::copy(bytes->begin(), bytes->end(), k.key.begin());
    k.state = TrustedKey::State::Valid;
    return k;
}

TrustedKey installationKey() {
    return loadTrustedKey(QByteArray(build::updateKey), platform::programFolder() + "/zelvor.pub");
}

Check verifyFile(const QString& file, const QString& signatureFile, const TrustedKey& key) {
    if (key.state != TrustedKey::State::Valid || !sodiumReady())
        return {Verdict::KeyMalformed,
                "a chave pública de verificação (" + key.source + ") não é válida"};
    if (!QFileInfo(file).isFile())
        return {Verdict::FileMissing, "o arquivo " + name(file) + " não foi encontrado"};
    const QFileInfo sigInfo(signatureFile);
    if (!sigInfo.isFile())
        return {Verdict::SignatureMissing,
                "a assinatura " + name(signatureFile) + " não foi encontrada"};
    QFile sigFile(signatureFile);
    std::optional<QByteArray> signature;
    if (sigInfo.size() <= MaxLineFile && sigFile.open(QIODevice::ReadOnly))
        signature = decodeLine(sigFile.readAll(), SignatureBytes);
    if (!signature)
        return {Verdict::SignatureMalformed,
                "a assinatura " + name(signatureFile) + " não está no formato esperado"};
    crypto_sign_state state;
    crypto_sign_init(&state);
    if (!feedFile(state, file))
        return {Verdict::FileMissing, "o arquivo " + name(file) + " não pôde ser lido"};
    if (crypto_sign_final_verify(&state,
                                 reinterpret_cast<const unsigned char*>(signature->constData()),
                                 key.key.data()) != 0)
        return {Verdict::Mismatch,
                "a assinatura não confere com o arquivo " + name(file) +
                    " (arquivo alterado, incompleto ou assinado por outra chave)"};
    return {};
}

std::optional<QByteArray> signFile(const QString& file, const QByteArray& secretKey) {
    if (!sodiumReady() || secretKey.size() != SecretKeyBytes)
        return std::nullopt;
    crypto_sign_state state;
    crypto_sign_init(&state);
    if (!feedFile(state, file))
        return std::nullopt;
    QByteArray signature(SignatureBytes, '\0');
    crypto_sign_final_create(&state, reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return signature;
}

} // namespace krv::signature
