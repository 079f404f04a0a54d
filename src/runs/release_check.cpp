#include "runs/release_check.h"

#include "common/file_version.h"
#include "common/update_signature.h"
#include "common/updatekrv.h"
#include "database/update_file.h"
#include "download/protocol.h"
#include "platform/krv_error.h"
#include "platform/program.h"
#include "platform/transfer.h"
#include "runs/archive_version.h"
#include "runs/dir_run.h"
#include "runs/installed_versions.h"
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <optional>

namespace krv::runs {

using release::ReleaseRefused;

namespace {

QString signatureName() {
    return manifest::FileName + ".sig";
}

// Removes what this run fetched of the release into folder: a refused release leaves nothing
// behind.
void discardFetched(const QString& folder) {
    if (folder.isEmpty())
        return;
    QFile::remove(folder + '/' + manifest::FileName);
    QFile::remove(folder + '/' + signatureName());
}

[[noreturn]] void refuseFetched(const QString& fetchedInto, const QString& reason) {
    discardFetched(fetchedInto);
    throw KrvError(ReleaseRefused,
                   "A atualização foi recusada: " + reason + ". Nenhuma alteração foi aplicada.");
}

QString serialFile(const QString& suiteFolder) {
    return suiteFolder + "/atualizacoes/manifesto.serial";
}

} // namespace

void ReleaseCheck::refuse(const QString& reason) const {
    refuseFetched(fetchedInto_, reason);
}

// Accepts manifest text and its signature text, or refuses.
const manifest::Manifest& ReleaseCheck::accept(const QByteArray& text,
                                               const QByteArray& signatureText) {
    const signature::Check check =
        signature::verifyBytes(text, manifest::FileName, signatureText, updateKey());
    if (!check.valid())
        refuse("o manifesto da versão não tem uma assinatura válida do fabricante (" +
               check.reason + ")");
    QString why;
    std::optional<manifest::Manifest> m = manifest::parse(text, &why);
    if (!m)
        refuse(why);
    if (m->expires <= QDateTime::currentDateTimeUtc())
        refuse("o manifesto da versão expirou em " + manifest::isoUtc(m->expires));
    // A manifest from the future is a clock or a signing gone wrong: its validity means nothing.
    if (m->issued > QDateTime::currentDateTimeUtc().addDays(1))
        refuse("o manifesto da versão foi emitido em " + manifest::isoUtc(m->issued) +
               ", mais de um dia à frente do relógio deste computador");
    const qint64 highest = release::highestApplied(updatekrv::DirSis);
    if (m->serial < highest)
        refuse(QString("o manifesto da versão tem o número de série %1, menor que o da última "
                       "atualização aplicada (%2)")
                   .arg(m->serial)
                   .arg(highest));
    record_.signatureVerified(manifest::FileName);
    record_.manifestChecked(
        m->serial, manifest::isoUtc(m->expires),
        QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()));
    manifest_ = std::move(m);
    return *manifest_;
}

namespace {

// A file of at most limit bytes; nullopt when it is missing, larger or unreadable.
std::optional<QByteArray> readBounded(const QString& path, qint64 limit) {
    QFile f(path);
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() > limit || !f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.read(limit + 1);
}

} // namespace

void ReleaseCheck::offered(const QString& entry, const QString& version, const QString& installed) {
    offered_[entry.toLower()] = version;
    installed_[entry.toLower()] = installed;
}

QString ReleaseCheck::installedVersion(const QString& entry) const {
    return installed_.value(entry.toLower());
}

void ReleaseCheck::clearAfterFailure(const QString& folder) {
    record_.filesFetched();
    const QDir dir(folder);
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString name = f.fileName();
        if (!name.endsWith(".part") && !name.endsWith(".part.info"))
            QFile::remove(f.filePath());
    }
    QDir().rmdir(folder);
}

void ReleaseCheck::reset() {
    manifest_.reset();
    offered_.clear();
    installed_.clear();
    fetchedInto_.clear();
    fetched_[0] = fetched_[1] = QByteArray();
}

const manifest::Manifest* ReleaseCheck::current() const {
    return manifest_ ? &*manifest_ : nullptr;
}

// Keeps the fetched manifest and signature beside the files once the update folder exists
// (the version check fetches them before it does).
void ReleaseCheck::keepFetched(const QString& folder) {
    const QString names[2] = {manifest::FileName, signatureName()};
    for (int i = 0; i < 2 && QFileInfo(folder).isDir(); ++i) {
        if (fetched_[i].isNull())
            continue;
        QSaveFile f(folder + '/' + names[i]);
        if (f.open(QIODevice::WriteOnly) && f.write(fetched_[i]) == fetched_[i].size() &&
            f.commit())
            fetched_[i] = QByteArray();
    }
}

const manifest::Manifest& ReleaseCheck::fromServer(const QString& folder) {
    if (manifest_) {
        keepFetched(folder);
        return *manifest_;
    }
    fetchedInto_ = folder;
    // Stale copies of an earlier run are never taken for this release's.
    discardFetched(fetchedInto_);
    platform::TransferOptions options = platform::TransferOptions::request();
    options.whileWaiting = [] { platform::yield(); };
    QByteArray parts[2];
    const QString names[2] = {manifest::FileName, signatureName()};
    const qint64 limits[2] = {manifest::MaxBytes, signature::MaxSignatureFile};
    for (int i = 0; i < 2; ++i) {
        options.maxBodyBytes = limits[i];
        const platform::HttpAnswer a = platform::httpRequest(protocol::fileUrl(names[i]), options);
        if (a.failure == platform::HttpAnswer::Failure::TooLarge)
            refuse("o arquivo " + names[i] + " do servidor excede o tamanho máximo");
        if (!a.received()) {
            const QString why = a.failure == platform::HttpAnswer::Failure::Transport
                                    ? platform::describeFault(a.fault, a.detail)
                                    : QString("HTTP %1").arg(a.status);
            refuse("o manifesto da versão (" + names[i] + ") não pôde ser obtido do servidor (" +
                   why + ")");
        }
        parts[i] = a.body;
    }
    const manifest::Manifest& m = accept(parts[0], parts[1]);
    // Kept beside the files for the record and for anyone checking the run afterwards.
    fetched_[0] = parts[0];
    fetched_[1] = parts[1];
    keepFetched(folder);
    return m;
}

const manifest::Manifest& ReleaseCheck::fromMedium(const QString& folder) {
    if (manifest_)
        return *manifest_;
    const QString found = firstMatch(folder, "\\" + manifest::FileName);
    const QString sigFound = firstMatch(folder, "\\" + signatureName());
    if (found.isEmpty() || sigFound.isEmpty())
        refuse("a mídia não traz o manifesto da versão (" + manifest::FileName + " e " +
               signatureName() + ")");
    const auto text = readBounded(folder + '/' + found, manifest::MaxBytes);
    const auto sig = readBounded(folder + '/' + sigFound, signature::MaxSignatureFile);
    if (!text || !sig)
        refuse("o manifesto da versão da mídia não pôde ser lido ou excede o tamanho máximo");
    return accept(*text, *sig);
}

void ReleaseCheck::requireListed(const QStringList& entries) const {
    const manifest::Manifest* m = current();
    if (!m)
        return;
    for (const QString& entry : entries) {
        const manifest::Entry* e = m->find(entry);
        if (!e)
            refuse("o arquivo " + entry + " não consta do manifesto da versão");
        const QString offer = offered_.value(entry.toLower());
        if (!e->version.isEmpty() && !offer.isEmpty() && e->version != offer)
            refuse("o arquivo " + entry + " consta do manifesto na versão " + e->version +
                   ", mas a lista de versões do servidor oferece a versão " + offer);
        if (e->kind == manifest::Kind::Database || e->kind == manifest::Kind::Menu)
            requireNotOlder(entry, offer, installedVersion(entry));
    }
}

qint64 ReleaseCheck::listedSize(const QString& entry) const {
    const manifest::Manifest* m = current();
    const manifest::Entry* e = m ? m->find(entry) : nullptr;
    return e ? e->size : -1;
}

QString ReleaseCheck::listedVersion(const QString& entry) const {
    const manifest::Manifest* m = current();
    const manifest::Entry* e = m ? m->find(entry) : nullptr;
    return e ? e->version : QString();
}

void ReleaseCheck::requireListedContent(const QString& entry, const QString& path,
                                        bool removeRefused) {
    const manifest::Manifest* m = current();
    if (!m)
        return;
    const manifest::Entry* e = m->find(entry);
    QString reason;
    if (!e)
        reason = "o arquivo " + entry + " não consta do manifesto da versão";
    else if (QFileInfo(path).size() != e->size)
        reason = QString("o arquivo %1 tem %2 bytes, e o manifesto da versão lista %3")
                     .arg(entry)
                     .arg(QFileInfo(path).size())
                     .arg(e->size);
    else if (manifest::fileSha256(path) != e->sha256)
        reason = "o conteúdo do arquivo " + entry +
                 " não confere com o manifesto da versão (SHA-256 diferente)";
    if (reason.isEmpty()) {
        record_.signatureVerified(QFileInfo(path).fileName());
        return;
    }
    if (removeRefused)
        QFile::remove(path);
    refuse(reason);
}

StagedCheck ReleaseCheck::moduleCheck(const QString& archiveName,
                                      const QString& destination) const {
    if (!current())
        return {};
    const QString listed = listedVersion(archiveName);
    const auto refuse = [fetchedInto = fetchedInto_](const QString& reason) {
        refuseFetched(fetchedInto, reason);
    };
    return [archiveName, destination, listed, refuse](const std::vector<StagedMember>& staged) {
        QStringList names;
        for (const StagedMember& s : staged)
            names << s.name;
        const QString member = moduleMember(archiveName, names);
        const qsizetype at = names.indexOf(member);
        const auto info =
            member.isEmpty() ? std::nullopt : readFixedFileInfo(staged[size_t(at)].path);
        const QString found = info ? formatFileVersion(*info) : QString();
        if (!listed.isEmpty() && found != listed)
            refuse("o módulo do arquivo " + archiveName + " tem a versão " +
                   (found.isEmpty() ? QString("(nenhuma)") : found) +
                   ", mas o manifesto da versão lista a versão " + listed);
        if (found.isEmpty())
            return;
        const auto installed = readFixedFileInfo(destination + '/' + member);
        if (installed && isOlder(found, formatFileVersion(*installed)))
            refuse("o arquivo " + archiveName + " traria " + member + " na versão " + found +
                   ", mais antiga que a instalada (" + formatFileVersion(*installed) + ")");
    };
}

void ReleaseCheck::requireAssistantVersion(const QString& archiveName, const QString& path,
                                           const QString& installed) const {
    if (!current())
        return;
    const QString listed = listedVersion(archiveName);
    const QString found = archiveModuleVersion(path);
    if (!listed.isEmpty() && found != listed)
        refuse("o assistente do arquivo " + archiveName + " tem a versão " +
               (found.isEmpty() ? QString("(nenhuma)") : found) +
               ", mas o manifesto da versão lista a versão " + listed);
    if (!found.isEmpty() && !installed.isEmpty() && isOlder(found, installed))
        refuse("o arquivo " + archiveName + " traria o assistente na versão " + found +
               ", mais antiga que a instalada (" + installed + ")");
}

void ReleaseCheck::requireUpdateFileVersion(const QString& path, const QString& installed) const {
    if (!current())
        return;
    QString codAtu;
    try {
        database::UpdateFile file = database::openUpdateFile(path);
        const database::UpdateRows numero = file.query("select * from numero");
        if (!numero.empty())
            codAtu = numero.first().text("CodAtu");
    } catch (const KrvError&) {
    }
    const QString listed = listedVersion("krv.mdb");
    if (!listed.isEmpty() && codAtu != listed)
        refuse("o arquivo krv.mdb traz a atualização " +
               (codAtu.isEmpty() ? QString("(nenhuma)") : codAtu) +
               ", mas o manifesto da versão lista a atualização " + listed);
    requireNotOlder("krv.mdb", codAtu, installed);
}

void ReleaseCheck::requireNotOlder(const QString& entry, const QString& offered,
                                   const QString& installed) const {
    if (!current() || offered.isEmpty() || installed.isEmpty())
        return;
    if (isOlder(offered, installed))
        refuse("o arquivo " + entry + " traria a versão " + offered +
               ", mais antiga que a instalada (" + installed + ")");
}

qint64 release::highestApplied(const QString& suiteFolder) {
    const auto text = readBounded(serialFile(suiteFolder), 64);
    bool ok = false;
    const qint64 n = text ? text->trimmed().toLongLong(&ok) : -1;
    return ok ? n : -1;
}

void ReleaseCheck::markApplied() const {
    const manifest::Manifest* m = current();
    if (!m || m->serial <= release::highestApplied(updatekrv::DirSis))
        return;
    const QString path = serialFile(updatekrv::DirSis);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QByteArray::number(m->serial) + '\n');
        f.commit();
    }
}

} // namespace krv::runs
