// krv-sign: the maker's signing tool for update files. See docs/signing.md.
//   krv-sign keygen DIR            writes DIR/krv-sign.key (secret, 0600) and DIR/krv-sign.pub
//   krv-sign sign KEYFILE FILE...  writes FILE.sig beside each FILE
//   krv-sign verify PUBFILE FILE... exit status 0 only when every FILE verifies
//   krv-sign release KEYFILE FOLDER [--serial N] [--valid-days D] [--version FILE=V]...
//                  [--rollout PERCENT@TIME]... [--halt] [--withdraw KIND:NAME=VERSION]...
//                  [--minimum KIND:NAME=VERSION]... [--delta-from OLD_FOLDER]...
//                                  writes FOLDER/manifesto.json and its signature (and the
//                                  deltas from each earlier release OLD_FOLDER)
//   krv-sign verify-release PUBFILE FOLDER
//                                  exit status 0 only when the manifest and every file hold
#include "common/file_version.h"
#include "common/release_manifest.h"
#include "common/update_signature.h"
#include "database/update_file.h"
#include "deltas.h"
#include "runs/archive_version.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimeZone>
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
                         "       krv-sign verify PUBFILE FILE...\n"
                         "       krv-sign release KEYFILE FOLDER [--serial N] [--valid-days D] "
                         "[--version FILE=V]...\n"
                         "               [--rollout PERCENT@TIME]... [--halt]\n"
                         "               [--withdraw KIND:NAME=VERSION]... "
                         "[--minimum KIND:NAME=VERSION]...\n"
                         "               [--delta-from OLD_FOLDER]...\n"
                         "       krv-sign verify-release PUBFILE FOLDER\n");
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

std::optional<QByteArray> readSecret(const QString& keyFile) {
    QFile f(keyFile);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 4096) {
        fail("cannot read the secret key " + keyFile);
        return std::nullopt;
    }
    auto sk = decodeLine(f.readAll(), SecretKeyBytes);
    if (!sk)
        fail(keyFile + " is not a secret key written by krv-sign keygen");
    return sk;
}

int sign(const QString& keyFile, const QStringList& files) {
    auto sk = readSecret(keyFile);
    if (!sk)
        return 1;
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

// The version a file carries: its module's for an archive, CodAtu for the update file, the
// file version of a program; empty when it carries none.
QString carriedVersion(const QString& path, krv::manifest::Kind kind) {
    using krv::manifest::Kind;
    if (kind == Kind::Module || kind == Kind::Assistant)
        return krv::runs::archiveModuleVersion(path);
    if (kind == Kind::Database) {
        try {
            const auto rows = krv::database::openUpdateFile(path).query("select * from numero");
            return rows.empty() ? QString() : rows.first().text("CodAtu");
        } catch (const std::exception&) {
            return {};
        }
    }
    const auto info = krv::readFixedFileInfo(path);
    return info ? krv::formatFileVersion(*info) : QString();
}

bool isReleaseFile(const QString& name) {
    return !name.endsWith(".sig", Qt::CaseInsensitive) &&
           !name.endsWith(".delta", Qt::CaseInsensitive) && // listed apart (sign/deltas.h)
           name.compare(krv::manifest::FileName, Qt::CaseInsensitive) != 0;
}

// The manifest already in folder, unsigned or not: only its serial matters here.
std::optional<krv::manifest::Manifest> existingManifest(const QString& folder) {
    QFile f(QDir(folder).filePath(krv::manifest::FileName));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return krv::manifest::parse(f.read(krv::manifest::MaxBytes + 1));
}

// One steering option of release (--rollout, --halt, --withdraw, --minimum) into steering;
// nullopt when option is none of them, false when its value is malformed.
std::optional<bool> steeringOption(const QString& option, const QString& value,
                                   krv::manifest::Steering& steering, bool& usedValue) {
    namespace m = krv::manifest;
    usedValue = option != "--halt";
    if (option == "--halt") {
        steering.halted = true;
        return true;
    }
    if (option == "--rollout") {
        bool ok = false;
        const double percent = value.section('@', 0, 0).toDouble(&ok);
        QDateTime from = QDateTime::fromString(value.section('@', 1), Qt::ISODate);
        if (!ok || !(percent >= 0 && percent <= 100) || !from.isValid() || !value.contains('@'))
            return false;
        if (from.timeSpec() == Qt::LocalTime)
            from.setTimeZone(QTimeZone::utc()); // a time without a zone is UTC, as the manifest's
        steering.staged = true;
        steering.stages << m::Stage{percent, from.toUTC()};
        return true;
    }
    if (option != "--withdraw" && option != "--minimum")
        return std::nullopt;
    static const QRegularExpression form(R"(^(module|menu|assistant):([^=]+)=(.+)\z)");
    const QRegularExpressionMatch match = form.match(value);
    if (!match.hasMatch())
        return false;
    (option == "--withdraw" ? steering.withdrawn : steering.minimum)
        << m::VersionRef{match.captured(1), match.captured(2), match.captured(3)};
    return true;
}

// What the manifest steers, for the maker to read back.
void printSteering(const krv::manifest::Steering& s) {
    for (const krv::manifest::Stage& stage : s.stages)
        std::printf("rollout %g%% from %s\n", stage.percent,
                    qPrintable(krv::manifest::isoUtc(stage.from)));
    if (s.halted)
        std::printf("halted\n");
    for (const auto& [label, list] :
         {std::pair{"withdrawn", &s.withdrawn}, {"minimum", &s.minimum}})
        for (const krv::manifest::VersionRef& v : *list)
            std::printf("%s %s:%s=%s\n", label, qPrintable(v.kind), qPrintable(v.name),
                        qPrintable(v.version));
}

int release(const QString& keyFile, const QString& folder, const QStringList& options) {
    namespace m = krv::manifest;
    qint64 serial = -1, days = 90;
    QMap<QString, QString> given;
    QStringList deltaFrom;
    m::Steering steering;
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString value = options.value(i + 1);
        bool ok = i + 1 < options.size();
        bool usedValue = true;
        if (const auto steered = steeringOption(options[i], value, steering, usedValue)) {
            if (!*steered || (usedValue && !ok))
                return usage();
            i += usedValue ? 1 : 0;
            continue;
        }
        if (options[i] == "--serial")
            serial = value.toLongLong(&ok);
        else if (options[i] == "--valid-days")
            days = value.toLongLong(&ok);
        else if (options[i] == "--version" && value.contains('='))
            given[value.section('=', 0, 0)] = value.section('=', 1);
        else if (options[i] == "--delta-from" && ok)
            deltaFrom << value;
        else
            return usage();
        if (!ok || serial < -1 || days <= 0 || days > 3650)
            return usage();
        ++i;
    }
    if (!QFileInfo(folder).isDir())
        return fail(folder + " is not a folder");
    if (QFileInfo::exists(QDir(folder).filePath(m::FileName)) && !existingManifest(folder))
        return fail(QDir(folder).filePath(m::FileName) +
                    " is not a manifest; its serial cannot be checked");
    const auto previous = existingManifest(folder);
    if (serial < 0)
        serial = previous ? previous->serial + 1 : 1;
    if (previous && serial <= previous->serial)
        return fail(QString("serial %1 is not above the serial %2 of the manifest in %3")
                        .arg(serial)
                        .arg(previous->serial)
                        .arg(folder));
    auto sk = readSecret(keyFile);
    if (!sk)
        return 1;
    m::Manifest manifest;
    manifest.serial = serial;
    manifest.steering = steering;
    manifest.issued = QDateTime::currentDateTimeUtc();
    manifest.expires = manifest.issued.addDays(days);
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
        if (!isReleaseFile(name))
            continue;
        const QString path = QDir(folder).filePath(name);
        m::Entry e{name, QFileInfo(path).size(), m::fileSha256(path), m::kindOf(name), {}, {}};
        e.version = carriedVersion(path, e.kind);
        const QString stated = given.take(name);
        if (!e.version.isEmpty() && !stated.isEmpty() && stated != e.version)
            return fail(name + " carries version " + e.version + ", not " + stated);
        if (e.version.isEmpty())
            e.version = stated;
        if (e.sha256.isEmpty())
            return fail("cannot read " + path);
        manifest.files << e;
    }
    if (!given.isEmpty())
        return fail("--version names a file that is not in the folder: " + given.firstKey());
    QString deltaWhy;
    if (!krv::sign::addDeltas(manifest, folder, deltaFrom, &deltaWhy))
        return fail(deltaWhy);
    const QByteArray text = m::serialize(manifest);
    const QByteArray sig = signBytes(text, *sk);
    sodium_memzero(sk->data(), sk->size());
    // The signature first: a manifest never stands beside an older release's signature.
    const QString manifestPath = QDir(folder).filePath(m::FileName);
    QFile::remove(manifestPath);
    if (!writeAtomically(signaturePath(manifestPath), encodeLine(sig)) ||
        !writeAtomically(manifestPath, text))
        return fail("cannot write the manifest in " + folder);
    for (const m::Entry& e : manifest.files)
        std::printf("%s %s %s\n", qPrintable(m::kindText(e.kind)), qPrintable(e.name),
                    qPrintable(e.version.isEmpty() ? QString("-") : e.version));
    for (const m::Delta& d : manifest.deltas)
        std::printf("delta %s %s from %s, %lld bytes\n", qPrintable(d.name), qPrintable(d.archive),
                    qPrintable(d.fromVersion), static_cast<long long>(d.size));
    printSteering(manifest.steering);
    std::printf("%s: serial %lld, expires %s\n", qPrintable(manifestPath),
                static_cast<long long>(serial), qPrintable(m::isoUtc(manifest.expires)));
    return 0;
}

int verifyRelease(const QString& publicFile, const QString& folder) {
    namespace m = krv::manifest;
    const TrustedKey key = loadTrustedKey({}, publicFile);
    if (key.state != TrustedKey::State::Valid)
        return fail(publicFile + " is not a public key written by krv-sign keygen");
    const QString manifestPath = QDir(folder).filePath(m::FileName);
    QFile text(manifestPath), sig(signaturePath(manifestPath));
    if (!text.open(QIODevice::ReadOnly) || !sig.open(QIODevice::ReadOnly))
        return fail("no manifest (" + m::FileName + " and its .sig) in " + folder);
    const QByteArray bytes = text.read(m::MaxBytes + 1);
    const Check c = verifyBytes(bytes, m::FileName, sig.read(MaxSignatureFile + 1), key);
    if (!c.valid())
        return fail(manifestPath + ": " + c.reason);
    QString why;
    const auto manifest = m::parse(bytes, &why);
    if (!manifest)
        return fail(manifestPath + ": " + why);
    int status = 0;
    if (manifest->expires <= QDateTime::currentDateTimeUtc())
        status = fail(manifestPath + ": expired " + m::isoUtc(manifest->expires));
    if (manifest->issued > QDateTime::currentDateTimeUtc().addDays(1))
        status = fail(manifestPath + ": issued more than a day ahead, " +
                      m::isoUtc(manifest->issued) + "; installations refuse it");
    for (const m::Entry& e : manifest->files) {
        const QString path = QDir(folder).filePath(e.name);
        if (!QFileInfo(path).isFile())
            status = fail(e.name + ": listed but missing");
        else if (QFileInfo(path).size() != e.size || m::fileSha256(path) != e.sha256)
            status = fail(e.name + ": differs from the manifest");
        else
            std::printf("OK %s\n", qPrintable(e.name));
    }
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
        if (isReleaseFile(name) && !manifest->find(name))
            status = fail(name + ": not listed in the manifest");
    if (!krv::sign::verifyDeltas(*manifest, folder))
        status = 1;
    printSteering(manifest->steering);
    std::printf("%s: serial %lld, expires %s\n", qPrintable(manifestPath),
                static_cast<long long>(manifest->serial), qPrintable(m::isoUtc(manifest->expires)));
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
    if (args.size() >= 3 && args[0] == "release")
        return release(args[1], args[2], args.mid(3));
    if (args.size() == 3 && args[0] == "verify-release")
        return verifyRelease(args[1], args[2]);
    return usage();
}
