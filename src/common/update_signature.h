#pragma once
// Signed updates: every file the maker publishes has a detached Ed25519 signature beside it
// (F + ".sig", one line of base64). The signature covers the file streamed through libsodium's
// multi-part form (Ed25519ph), so a large archive needs no memory. An installation trusts
// the public keys compiled in, else those of the file zelvor.pub in the program folder (one a
// line, so that the maker can move to a new key while installations still hold the old);
// with neither, files are taken unsigned.
#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace krv::signature {

inline constexpr int PublicKeyBytes = 32;
inline constexpr int SecretKeyBytes = 64;
inline constexpr int SignatureBytes = 64;
using PublicKey = std::array<unsigned char, PublicKeyBytes>;

// The signature file of a file: path + ".sig".
QString signaturePath(const QString& file);

// One line of base64 (a line end and blanks around it allowed) decoded to exactly size bytes;
// nullopt for anything else.
std::optional<QByteArray> decodeLine(const QByteArray& text, int size);
// bytes as one line of base64 with its line end: the form of key and signature files.
QByteArray encodeLine(const QByteArray& bytes);

struct TrustedKey {
    enum class State { None, Valid, Malformed };
    State state = State::None;
    std::vector<PublicKey> keys; // a signature by any of them is accepted
    QString source;              // where the keys came from, for messages
};

// The keys to trust: compiledIn (base64, apart by line ends, blanks or ";") when not empty, else
// keyFile when it exists. Valid only when every line that is not blank is a key: a damaged key file
// must not quietly drop a key.
TrustedKey loadTrustedKey(const QByteArray& compiledIn, const QString& keyFile);
// The installation's keys: the build's ZELVOR_UPDATE_KEY, else zelvor.pub in the program folder.
TrustedKey installationKey();

enum class Verdict {
    Valid,
    FileMissing,
    SignatureMissing,
    SignatureMalformed,
    Mismatch,
    KeyMalformed
};

struct Check {
    Verdict verdict = Verdict::Valid;
    QString reason; // Portuguese, names the file at fault; empty when valid
    bool valid() const { return verdict == Verdict::Valid; }
};

// Verifies file against signatureFile with any of the keys.
Check verifyFile(const QString& file, const QString& signatureFile, const TrustedKey& key);

// The same for bytes in memory (a manifest already read under its size limit).
Check verifyBytes(const QByteArray& bytes, const QString& shownName,
                  const QByteArray& signatureText, const TrustedKey& key);

// Signs file with a secret key (libsodium's 64-byte form); nullopt when the file cannot be read.
std::optional<QByteArray> signFile(const QString& file, const QByteArray& secretKey);
QByteArray signBytes(const QByteArray& bytes, const QByteArray& secretKey);

// The most a signature or key file may hold; a longer one is refused unread.
inline constexpr qint64 MaxSignatureFile = 4096;

} // namespace krv::signature
