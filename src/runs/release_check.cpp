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
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <optional>

namespace krv::runs::release {

namespace {

struct State {
    std::optional<manifest::Manifest> manifest;
    QMap<QString, QString> offered;   // entry -> version, names in lower case
    QMap<QString, QString> installed; // entry -> installed version, names in lower case
    QString fetchedInto;              // the update folder the manifest was fetched into
    QByteArray fetched[2];            // the manifest and its signature, until kept there
};

State& state() {
    static State s;
    return s;
}

QString signatureName() {
    return manifest::FileName + ".sig";
}

// Removes what this run fetched of the release: a refused release leaves nothing behind.
void discardFetched() {
    const QString folder = state().fetchedInto;
    if (folder.isEmpty())
        return;
    QFile::remove(folder + '/' + manifest::FileName);
    QFile::remove(folder + '/' + signatureName());
}

[[noreturn]] void refuse(const QString& reason) {
    discardFetched();
    throw KrvError(ReleaseRefused,
                   "A atualização foi recusada: " + reason + ". Nenhuma alteração foi aplicada.");
}

// Version texts compare as numbers when both are numbers (database and menu), else as text,
// character code by character code, as the version check does.
bool olderThan(const QString& a, const QString& b) {
    bool aNumber = false, bNumber = false;
    const qulonglong x = a.toULongLong(&aNumber), y = b.toULongLong(&bNumber);
    if (aNumber && bNumber)
        return x < y;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

QString serialFile(const QString& suiteFolder) {
    return suiteFolder + "/atualizacoes/manifesto.serial";
}

// Accepts manifest text and its signature text, or refuses.
const manifest::Manifest& accept(const QByteArray& text, const QByteArray& signatureText) {
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
    const qint64 highest = highestApplied(updatekrv::DirSis);
    if (m->serial < highest)
        refuse(QString("o manifesto da versão tem o número de série %1, menor que o da última "
                       "atualização aplicada (%2)")
                   .arg(m->serial)
                   .arg(highest));
    record::signatureVerified(manifest::FileName);
    record::manifestChecked(
        m->serial, manifest::isoUtc(m->expires),
        QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()));
    state().manifest = std::move(m);
    return *state().manifest;
}

// A file of at most limit bytes; nullopt when it is missing, larger or unreadable.
std::optional<QByteArray> readBounded(const QString& path, qint64 limit) {
    QFile f(path);
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() > limit || !f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.read(limit + 1);
}

} // namespace

void offered(const QString& entry, const QString& version, const QString& installed) {
    state().offered[entry.toLower()] = version;
    state().installed[entry.toLower()] = installed;
}

QString installedVersion(const QString& entry) {
    return state().installed.value(entry.toLower());
}

void clearAfterFailure(const QString& folder) {
    record::filesFetched();
    const QDir dir(folder);
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString name = f.fileName();
        if (!name.endsWith(".part") && !name.endsWith(".part.info"))
            QFile::remove(f.filePath());
    }
    QDir().rmdir(folder);
}

const manifest::Manifest* current() {
    return state().manifest ? &*state().manifest : nullptr;
}

namespace {

// Keeps the fetched manifest and signature beside the files once the update folder exists
// (the version check fetches them before it does).
void keepFetched(const QString& folder) {
    const QString names[2] = {manifest::FileName, signatureName()};
    for (int i = 0; i < 2 && QFileInfo(folder).isDir(); ++i) {
        if (state().fetched[i].isNull())
            continue;
        QSaveFile f(folder + '/' + names[i]);
        if (f.open(QIODevice::WriteOnly) &&
            f.write(state().fetched[i]) == state().fetched[i].size() && f.commit())
            state().fetched[i] = QByteArray();
    }
}

} // namespace

const manifest::Manifest& fromServer(const QString& folder) {
    if (state().manifest) {
        keepFetched(folder);
        return *state().manifest;
    }
    state().fetchedInto = folder;
    // Stale copies of an earlier run are never taken for this release's.
    discardFetched();
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
    state().fetched[0] = parts[0];
    state().fetched[1] = parts[1];
    keepFetched(folder);
    return m;
}

const manifest::Manifest& fromMedium(const QString& folder) {
    if (state().manifest)
        return *state().manifest;
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

void requireListed(const QStringList& entries) {
    const manifest::Manifest* m = current();
    if (!m)
        return;
    for (const QString& entry : entries) {
        const manifest::Entry* e = m->find(entry);
        if (!e)
            refuse("o arquivo " + entry + " não consta do manifesto da versão");
        const QString offer = state().offered.value(entry.toLower());
        if (!e->version.isEmpty() && !offer.isEmpty() && e->version != offer)
            refuse("o arquivo " + entry + " consta do manifesto na versão " + e->version +
                   ", mas a lista de versões do servidor oferece a versão " + offer);
        if (e->kind == manifest::Kind::Database || e->kind == manifest::Kind::Menu)
            requireNotOlder(entry, offer, installedVersion(entry));
    }
}

qint64 listedSize(const QString& entry) {
    const manifest::Manifest* m = current();
    const manifest::Entry* e = m ? m->find(entry) : nullptr;
    return e ? e->size : -1;
}

QString listedVersion(const QString& entry) {
    const manifest::Manifest* m = current();
    const manifest::Entry* e = m ? m->find(entry) : nullptr;
    return e ? e->version : QString();
}

void requireListedContent(const QString& entry, const QString& path, bool removeRefused) {
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
        record::signatureVerified(QFileInfo(path).fileName());
        return;
    }
    if (removeRefused)
        QFile::remove(path);
    refuse(reason);
}

StagedCheck moduleCheck(const QString& archiveName, const QString& destination) {
    if (!current())
        return {};
    const QString listed = listedVersion(archiveName);
    return [archiveName, destination, listed](const std::vector<StagedMember>& staged) {
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
        if (installed && olderThan(found, formatFileVersion(*installed)))
            refuse("o arquivo " + archiveName + " traria " + member + " na versão " + found +
                   ", mais antiga que a instalada (" + formatFileVersion(*installed) + ")");
    };
}

void requireAssistantVersion(const QString& archiveName, const QString& path,
                             const QString& installed) {
    if (!current())
        return;
    const QString listed = listedVersion(archiveName);
    const QString found = archiveModuleVersion(path);
    if (!listed.isEmpty() && found != listed)
        refuse("o assistente do arquivo " + archiveName + " tem a versão " +
               (found.isEmpty() ? QString("(nenhuma)") : found) +
               ", mas o manifesto da versão lista a versão " + listed);
    if (!found.isEmpty() && !installed.isEmpty() && olderThan(found, installed))
        refuse("o arquivo " + archiveName + " traria o assistente na versão " + found +
               ", mais antiga que a instalada (" + installed + ")");
}

void requireUpdateFileVersion(const QString& path, const QString& installed) {
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

void requireNotOlder(const QString& entry, const QString& offered, const QString& installed) {
    if (!current() || offered.isEmpty() || installed.isEmpty())
        return;
    if (olderThan(offered, installed))
        refuse("o arquivo " + entry + " traria a versão " + offered +
               ", mais antiga que a instalada (" + installed + ")");
}

qint64 highestApplied(const QString& suiteFolder) {
    const auto text = readBounded(serialFile(suiteFolder), 64);
    bool ok = false;
    const qint64 n = text ? text->trimmed().toLongLong(&ok) : -1;
    return ok ? n : -1;
}

void markApplied() {
    const manifest::Manifest* m = current();
    if (!m || m->serial <= highestApplied(updatekrv::DirSis))
        return;
    const QString path = serialFile(updatekrv::DirSis);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QByteArray::number(m->serial) + '\n');
        f.commit();
    }
}

} // namespace krv::runs::release
