#include "relauncher/relauncher.h"

#include "platform/dialogs.h"
#include "platform/krv_error.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/settings.h"
#include "platform/test_hook.h"
#include "runs/leftovers.h"
#include "runs/mod_add_zip.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace krv::relauncher {

using namespace platform;

namespace {

void notice(const QString& text) {
    msgBox(text, Buttons::OK, Icon::Information, "Aviso!");
}

// The executable must be startable after unpacking, whatever mode the archive stored.
void makeExecutable(const QString& path) {
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser |
                                    QFile::ExeGroup | QFile::ExeOther);
}

// Which file a name stands for: a file renamed over it is another one.
struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileId(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// Movrin carries no more of the suite than extraction: the archive's hash is taken here.
QString sha256Of(const QString& path) {
    QFile f(path);
    QCryptographicHash sha(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !sha.addData(&f))
        return {};
    return QString::fromLatin1(sha.result().toHex());
}

} // namespace

Relauncher::Relauncher(const QString& argument, const QString& ownFolder)
    : argument_(argument), ownFolder_(ownFolder) {}

bool Relauncher::fileInUse(const QString& path) {
    std::error_code ec;
    const auto target = std::filesystem::weakly_canonical(path.toStdString(), ec);
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code linkEc;
        const auto exe = std::filesystem::read_symlink(entry.path() / "exe", linkEc);
        if (!linkEc && exe == target)
            return true;
    }
    return false;
}

void Relauncher::Processar() {
    const QString dirSis = getSetting("DirSis", ownFolder_);
    const QString assistant = winJoin(dirSis, "\\zelvor");
    if (attempts_ > 5) {
        notice("Ocorreu um erro ao excluir o arquivo " + assistant + "\r\nProcesso cancelado!");
        endProgram(unattended_ ? 1 : 0);
    }
    ++attempts_;
    runs::clearLeftovers(dirSis);
    runs::removeEndedExtractions(ownFolder_);

    // On Linux a running executable can be replaced; it still counts as in use, as it did
    // where the original ran. The old file is never removed: the new one is renamed over it
    // in one step, so the suite always has an assistant.
    if (ordinaryFileExists(assistant) && fileInUse(assistant))
        return;
    const std::optional<FileId> before = fileId(assistant);
    hook::pausePoint("movrin-checked");

    const QString archive = winJoin(dirSis, argument_.mid(1));
    if (!sha256_.isEmpty() && sha256Of(archive) != sha256_) {
        notice("O arquivo " + archive +
               " não é o que o assistente de atualização verificou "
               "(SHA-256 diferente): o assistente instalado fica como está.\r\nProcesso "
               "cancelado!");
        endProgram(unattended_ ? 1 : 0);
    }
    bool unpacked = true;
    try {
        runs::Descompacta(archive, "*.*", ownFolder_, 0);
    } catch (const KrvError&) {
        unpacked = false;
    }
    hook::pausePoint("movrin-unpacked");
    const std::optional<FileId> after = fileId(assistant);
    if (!unpacked || !after || after == before || !ordinaryFileExists(assistant)) {
        notice("Ocorreu um erro ao descompactar o arquivo " + archive + "\r\nProcesso cancelado!");
        endProgram(unattended_ ? 1 : 0);
    }
    makeExecutable(assistant);
    notice("A nova versão do assistente de atualização KRV instalada com sucesso!\r\n"
           "O assistente será reiniciado!");
    if (unattended_)
        endProgramAs(assistant, assistantArguments_);
    startDetached(assistant);
    endProgram(0);
}

} // namespace krv::relauncher
