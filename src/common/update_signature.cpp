#include "common/update_signature.h"

#include "build_info.h"
#include "platform/program.h"

#include <QFile>
#include <QFileInfo>
#include <sodium.h>

namespace krv::signature {

namespace {

// A signature file is one short line, a key file a few; anything longer is not one.
constexpr qint64 MaxLineFile = MaxSignatureFile;
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

// Ed25519ph: the state holds the hash of the message, so one pass serves every key.
bool anyKeyVerifies(const crypto_sign_state& fed, const QByteArray& signature,
                    const TrustedKey& key) {
    for (const PublicKey& k : key.keys) {
        crypto_sign_state state = fed;
        if (crypto_sign_final_verify(&state,
                                     reinterpret_cast<const unsigned char*>(signature.constData()),
                                     k.data()) == 0)
            return true;
    }
    return false;
}

Check keyFault(const TrustedKey& key) {
    return {Verdict::KeyMalformed,
            "a chave pública de verificação (" + key.source + ") não é válida"};
}

QString mismatch(const QString& shownName) {
    return "a assinatura não confere com o arquivo " + shownName +
           " (arquivo alterado, incompleto ou assinado por outra chave)";
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
        // A build setting cannot carry a line end: keys there are apart by ";" or blanks.
        text = QByteArray(compiledIn).replace(';', '\n').replace(' ', '\n');
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
    for (const QByteArray& line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const auto bytes = decodeLine(line, PublicKeyBytes);
        if (!bytes) {
            k.keys.clear();
            k.state = TrustedKey::State::Malformed;
            return k;
        }
        PublicKey key;
        std::copy(bytes->begin(), bytes->end(), key.begin());
        k.keys.push_back(key);
    }
    k.state = k.keys.empty() ? TrustedKey::State::Malformed : TrustedKey::State::Valid;
    return k;
}

TrustedKey installationKey() {
    return loadTrustedKey(QByteArray(build::updateKey), platform::programFolder() + "/zelvor.pub");
}

Check verifyFile(const QString& file, const QString& signatureFile, const TrustedKey& key) {
    if (key.state != TrustedKey::State::Valid || !sodiumReady())
        return keyFault(key);
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
    if (!anyKeyVerifies(state, *signature, key))
        return {Verdict::Mismatch, mismatch(name(file))};
    return {};
}

Check verifyBytes(const QByteArray& bytes, const QString& shownName,
                  const QByteArray& signatureText, const TrustedKey& key) {
    if (key.state != TrustedKey::State::Valid || !sodiumReady())
        return keyFault(key);
    const std::optional<QByteArray> signature = signatureText.size() <= MaxLineFile
                                                    ? decodeLine(signatureText, SignatureBytes)
                                                    : std::nullopt;
    if (!signature)
        return {Verdict::SignatureMalformed,
                "a assinatura " + shownName + ".sig não está no formato esperado"};
    crypto_sign_state state;
    crypto_sign_init(&state);
    crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(bytes.constData()),
                       static_cast<unsigned long long>(bytes.size()));
    if (!anyKeyVerifies(state, *signature, key))
        return {Verdict::Mismatch, mismatch(shownName)};
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

QByteArray signBytes(const QByteArray& bytes, const QByteArray& secretKey) {
    if (!sodiumReady() || secretKey.size() != SecretKeyBytes)
        return {};
    crypto_sign_state state;
    crypto_sign_init(&state);
    crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(bytes.constData()),
                       static_cast<unsigned long long>(bytes.size()));
    QByteArray signature(SignatureBytes, '\0');
    crypto_sign_final_create(&state, reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return signature;
}

} // namespace krv::signature
