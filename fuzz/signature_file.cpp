// A signature file and a key file as the installation reads them: the line decoder, the key
// loader and the verification of a file against them. Whatever the input, a file can only
// verify against the signature its key's secret made, and that secret never reaches here.
#include "common/update_signature.h"
#include "scratch_file.h"

#include <QList>

#include <sodium.h>

namespace {

struct Fixture {
    krv::signature::TrustedKey key;
    QString file;
};

// A key pair made for this process; its secret is dropped, so no input can be its signature.
const Fixture& fixture() {
    static const Fixture f = [] {
        Fixture made;
        if (sodium_init() < 0)
            krv::fuzz::fail("libsodium did not start");
        unsigned char secret[crypto_sign_SECRETKEYBYTES];
        made.key.keys.resize(1);
        crypto_sign_keypair(made.key.keys[0].data(), secret);
        sodium_memzero(secret, sizeof secret);
        made.key.state = krv::signature::TrustedKey::State::Valid;
        const char content[] = "KRVSIS0131.ZIP";
        made.file = krv::fuzz::writeScratch(
            "update.zip", reinterpret_cast<const std::uint8_t*>(content), sizeof content - 1);
        return made;
    }();
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    using namespace krv::signature;
    const Fixture& f = fixture();
    // The first byte splits the rest into the signature file and the key file.
    const std::size_t split = size == 0 ? 0 : std::min<std::size_t>(data[0], size - 1);
    const std::uint8_t* rest = size == 0 ? data : data + 1;
    const std::size_t restSize = size == 0 ? 0 : size - 1;
    const QByteArray sigText(reinterpret_cast<const char*>(rest), qsizetype(split));
    const QByteArray keyText(reinterpret_cast<const char*>(rest + split),
                             qsizetype(restSize - split));

    for (const int wanted : {SignatureBytes, PublicKeyBytes}) {
        const auto decoded = decodeLine(sigText, wanted);
        if (!decoded)
            continue;
        if (decoded->size() != wanted)
            fuzz::fail("a decoded line has another size than asked for");
        if (decodeLine(encodeLine(*decoded), wanted) != decoded)
            fuzz::fail("an encoded line does not decode back");
    }

    const QString sig = fuzz::writeScratch("update.zip.sig", rest, split);
    if (verifyFile(f.file, sig, f.key).valid())
        fuzz::fail("a signature the key's secret never made verified");

    const QString keyFile = fuzz::writeScratch("zelvor.pub", rest + split, restSize - split);
    const TrustedKey loaded = loadTrustedKey({}, keyFile);
    // A key file longer than a few lines could be is refused unread; every line that is not
    // blank must be a key, and at least one must be there.
    bool decodes = keyText.size() <= MaxSignatureFile;
    int lines = 0;
    for (const QByteArray& line : keyText.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        ++lines;
        decodes = decodes && decodeLine(line, PublicKeyBytes).has_value();
    }
    decodes = decodes && lines > 0;
    if ((loaded.state == TrustedKey::State::Valid) != decodes)
        fuzz::fail("the key file's verdict differs from its line's");
    const Check withLoaded = verifyFile(f.file, sig, loaded);
    if (loaded.state != TrustedKey::State::Valid && withLoaded.valid())
        fuzz::fail("a file verified against a key that did not load");
    return 0;
}
