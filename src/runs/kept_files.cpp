#include "runs/kept_files.h"

#include "common/release_manifest.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/menu_backup.h"
#include "platform/krv_error.h"
#include "platform/program.h"
#include "runs/archive_names.h"
#include "runs/update_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>
#include <unistd.h>
#include <zip.h>

namespace krv::runs::kept {

namespace {

// Left free after the copies, as after an extraction: the suite keeps working.
constexpr std::uint64_t kFreeSpaceMargin = 32ull * 1024 * 1024;

bool& hardLinksAllowed() {
    static bool allowed = true;
    return allowed;
}

bool sameFolder(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

bool link(const QString& from, const QString& to) {
    return hardLinksAllowed() &&
           ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

void setHardLinksAllowed(bool allowed) {
    hardLinksAllowed() = allowed;
}

std::vector<KeptFile> keepFiles(const QString& folder, const QString& destination,
                                const std::vector<StagedMember>& members,
                                const std::function<bool(const QString&)>& keptBefore) {
    if (!QDir().mkpath(folder))
        throw KrvError(err::FileAccess, "Não foi possível criar a pasta " + folder +
                                            " para guardar os arquivos substituídos.");
    std::vector<KeptFile> out;
    std::vector<bool> copy;
    QStringList linked;
    std::uint64_t toCopy = 0;
    for (const StagedMember& m : members) {
        KeptFile k;
        k.name = m.name;
        k.afterSha256 = manifest::fileSha256(m.path);
        k.afterSize = QFileInfo(m.path).size();
        const QString target = destination + '/' + m.name, kept = folder + '/' + m.name;
        bool copyIt = false;
        // Replaced twice in one run: the version from before the run is the one to keep.
        if (!(keptBefore && keptBefore(m.name)) && QFileInfo(target).isFile()) {
            k.size = QFileInfo(target).size();
            k.sha256 = manifest::fileSha256(target);
            QFile::remove(kept);
            if (link(target, kept)) {
                linked << kept;
            } else {
                copyIt = true;
                toCopy += std::uint64_t(k.size);
            }
        }
        out.push_back(k);
        copy.push_back(copyIt);
    }
    if (toCopy > 0) {
        const std::optional<std::uint64_t> free = freeSpace(folder);
        if (free && toCopy + kFreeSpaceMargin > *free) {
            for (const QString& path : linked)
                QFile::remove(path);
            throw KrvError(err::FileAccess,
                           QString("Espaço livre insuficiente em %1 para guardar os arquivos que "
                                   "a atualização substitui: são necessários %2 bytes e uma "
                                   "reserva de %3, mas há %4 livres. Nenhum arquivo foi "
                                   "substituído.")
                               .arg(destination)
                               .arg(toCopy)
                               .arg(kFreeSpaceMargin)
                               .arg(*free));
        }
    }
    for (size_t i = 0; i < out.size(); ++i)
        if (copy[i] && !QFile::copy(destination + '/' + out[i].name, folder + '/' + out[i].name))
            throw KrvError(err::FileAccess, "Não foi possível guardar uma cópia de " + out[i].name +
                                                " em " + folder +
                                                ". Nenhum arquivo foi substituído.");
    return out;
}

void requireRoomFor(const QString& folder, const QString& destination, const QStringList& archives,
                    const std::function<bool(const QString&)>& keptBefore) {
    std::uint64_t needed = 0, copies = 0;
    QStringList replaced;
    for (const QString& archive : archives) {
        int code = 0;
        const std::unique_ptr<zip_t, decltype(&zip_discard)> z(
            zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &code), zip_discard);
        if (!z)
            continue; // its extraction says why it cannot be read
        const zip_int64_t count = zip_get_num_entries(z.get(), 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t st;
            if (zip_stat_index(z.get(), zip_uint64_t(i), 0, &st) != 0)
                continue;
            const QString name = flatMemberName(QString::fromUtf8(st.name));
            if (name.isEmpty())
                continue;
            needed += st.size;
            const QString target = destination + '/' + name;
            if (!replaced.contains(target) && QFileInfo(target).isFile() &&
                !(keptBefore && keptBefore(name))) {
                replaced << target;
                copies += std::uint64_t(QFileInfo(target).size());
            }
        }
    }
    // One trial link tells whether the old files will be linked or copied.
    if (!replaced.isEmpty() && QDir().mkpath(folder)) {
        const QString probe = folder + "/.zv-link-probe";
        QFile::remove(probe);
        if (link(replaced.first(), probe)) {
            QFile::remove(probe);
            copies = 0;
        }
    }
    needed += copies;
    const std::optional<std::uint64_t> free = freeSpace(destination);
    if (free && needed + kFreeSpaceMargin > *free)
        throw KrvError(err::FileAccess,
                       QString("Espaço livre insuficiente em %1 para a atualização e os arquivos "
                               "que ela substitui: são necessários %2 bytes e uma reserva de %3, "
                               "mas há %4 livres. Nenhum arquivo foi substituído.")
                           .arg(destination)
                           .arg(needed)
                           .arg(kFreeSpaceMargin)
                           .arg(*free));
}

namespace {

// Keeps what members replace in destination into base's kept files, each noted in record.
void keepAll(UpdateRecord& record, const QString& base, const QString& destination,
             const std::vector<StagedMember>& members) {
    const auto keptBefore = [&](const QString& name) { return record.alreadyKept(name); };
    for (const KeptFile& k : keepFiles(base + '/' + kFilesFolder, destination, members, keptBefore))
        record.fileKept(k.name, k.size, k.sha256, k.afterSize, k.afterSha256);
    record.keptWritten();
}

} // namespace

void beforeUnpacking(const UpdateRecord& record, const QStringList& archives) {
    const QString base = record.keepFolder();
    if (base.isEmpty() || archives.isEmpty())
        return;
    requireRoomFor(base + '/' + kFilesFolder, updatekrv::DirSis, archives,
                   [&](const QString& name) { return record.alreadyKept(name); });
}

void beforeReplacing(UpdateRecord& record, const QString& destination,
                     const std::vector<StagedMember>& members) {
    const QString base = record.keepFolder();
    if (base.isEmpty() || members.empty() || !sameFolder(destination, updatekrv::DirSis))
        return;
    keepAll(record, base, destination, members);
}

void assistantBeforeHandOver(UpdateRecord& record, const QString& archive) {
    const QString base = record.keepFolder();
    if (base.isEmpty() || !sameFolder(platform::programFolder(), updatekrv::DirSis))
        return;
    // Unpacked aside only to learn what Movrin will put in place.
    QDir().mkpath(base);
    QTemporaryDir aside(base + "/assistente-XXXXXX");
    if (!aside.isValid())
        throw KrvError(err::FileAccess,
                       "Não foi possível criar uma pasta temporária em " + base + ".");
    Descompacta(archive, "*.*", aside.path(), 0);
    std::vector<StagedMember> members;
    for (const QString& name : QDir(aside.path()).entryList(QDir::Files | QDir::Hidden))
        members.push_back({name, aside.path() + '/' + name});
    keepAll(record, base, updatekrv::DirSis, members);
}

void menuBeforeReload(UpdateRecord& record) {
    const QString base = record.keepFolder();
    if (base.isEmpty())
        return;
    const QString path = base + '/' + kMenuFile;
    // A second reload in the same run: the rows from before the run are already kept.
    if (QFileInfo::exists(path))
        return;
    if (!QDir().mkpath(base))
        throw KrvError(err::FileAccess, "Não foi possível criar a pasta " + base + ".");
    record.menuKept(kMenuFile, database::saveMenu(database::Conexao(), path));
}

int retention() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue(kRetentionVariable, &ok);
    return ok && n >= 0 ? n : kDefaultRetention;
}

void removeOldFolders(const QString& suiteFolder) {
    static const QRegularExpression stamp(R"(^\d{8}-\d{6}-\d{3}\z)");
    QDir dir(record::recordsFolder(suiteFolder));
    QStringList folders;
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (stamp.match(name).hasMatch())
            folders << name;
    for (qsizetype i = 0; i + retention() < folders.size(); ++i)
        if (!QFileInfo::exists(dir.filePath(folders[i]) + '/' + kRollbackJournal))
            QDir(dir.filePath(folders[i])).removeRecursively();
}

} // namespace krv::runs::kept
