#pragma once
// A release checked against its signed manifest before anything of it is applied: the
// manifest's signature, validity and serial; every offered file listed by name and version;
// each file's size and SHA-256; the versions found inside the files; no downgrade. Used only
// when the installation holds the maker's key; without one nothing here is consulted.
#include "common/release_manifest.h"
#include "runs/mod_add_zip.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace krv::runs {

class UpdateRecord;

namespace release {

// The error number of a refused release or file.
inline constexpr int ReleaseRefused = 35771;

// The highest serial applied in the suite at folder; -1 when none is recorded.
qint64 highestApplied(const QString& suiteFolder);

} // namespace release

// One run's release: the manifest it accepted and the versions it was offered. What it
// checks and fetches is told to the run's record.
class ReleaseCheck {
public:
    explicit ReleaseCheck(UpdateRecord& record) : record_(record) {}

    // The version the version list offers for a work-list entry (or the assistant's archive),
    // and the one installed (empty when unknown).
    void offered(const QString& entry, const QString& version, const QString& installed = {});
    QString installedVersion(const QString& entry) const;

    // Forgets this run's release (tests run several runs in one process).
    void reset();

    // The release this run applies; null until one of the two below accepted one.
    const manifest::Manifest* current() const;

    // Fetches manifesto.json (at most manifest::MaxBytes) and its signature (at most
    // MaxSignatureFile) into folder and accepts the manifest, once per run. Refused (KrvError
    // ReleaseRefused, both files removed) when either is missing, the signature fails, the
    // manifest expired or its serial is below the highest this suite applied.
    const manifest::Manifest& fromServer(const QString& folder);
    // The same for the manifest of a medium, found in folder with case ignored; its files are
    // never removed.
    const manifest::Manifest& fromMedium(const QString& folder);

    // Every entry must be listed; where both the manifest and offered() give a version, the
    // same; a database or menu offered below the installed one is a downgrade.
    void requireListed(const QStringList& entries) const;

    // The size an entry is listed with; -1 without a current manifest or entry.
    qint64 listedSize(const QString& entry) const;
    // The version an entry is listed with; empty when none.
    QString listedVersion(const QString& entry) const;

    // path must have entry's listed size and SHA-256; a refused file is removed when
    // removeRefused (a download; a medium's files are never touched).
    void requireListedContent(const QString& entry, const QString& path, bool removeRefused);

    // For Descompacta: the archive's module, staged, must carry the listed version and must
    // not be older than the one installed in destination.
    StagedCheck moduleCheck(const QString& archiveName, const QString& destination) const;

    // The assistant's archive: its zelvor must carry the listed version and must not be older
    // than the running one (installed: its version).
    void requireAssistantVersion(const QString& archiveName, const QString& path,
                                 const QString& installed) const;

    // The update file krv.mdb at path: its CodAtu must be the listed version and must not be
    // below the installed one (empty when unknown).
    void requireUpdateFileVersion(const QString& path, const QString& installed) const;

    // A version number (database, menu) offered below the installed one is a downgrade.
    void requireNotOlder(const QString& entry, const QString& offered,
                         const QString& installed) const;

    // After a run stopped on a failure or a refusal: the update folder keeps nothing but the
    // parts of cut downloads a later run may resume (what was fetched is recorded first).
    void clearAfterFailure(const QString& folder);

    // The serial of the current release becomes the suite's highest applied (never lowered).
    void markApplied() const;

private:
    [[noreturn]] void refuse(const QString& reason) const;
    const manifest::Manifest& accept(const QByteArray& text, const QByteArray& signatureText);
    void keepFetched(const QString& folder);

    UpdateRecord& record_;
    std::optional<manifest::Manifest> manifest_;
    QMap<QString, QString> offered_;   // entry -> version, names in lower case
    QMap<QString, QString> installed_; // entry -> installed version, names in lower case
    QString fetchedInto_;              // the update folder the manifest was fetched into
    QByteArray fetched_[2];            // the manifest and its signature, until kept there
};

} // namespace krv::runs
