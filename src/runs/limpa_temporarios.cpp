#include "runs/limpa_temporarios.h"

#include "common/updatekrv.h"
#include "platform/dialogs.h"
#include "platform/program.h"
#include "runs/run_outcome.h"
#include "runs/update_record.h"

#include <QFile>
#include <filesystem>

namespace krv::runs {

namespace {
// Deletes the files directly in folder, then the folder itself. Every failure (folder
// missing, a file that cannot be deleted, a subfolder keeping the folder) is ignored: the
// leftovers go with a later run.
void removeUpdateFolder(const QString& folder) {
    namespace fs = std::filesystem;
    const fs::path dir = QFile::encodeName(folder).toStdString();
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        // Only the folder's own entries: a link is removed as a link, a subfolder stays.
        if (!fs::is_directory(it->symlink_status(ignored)))
            fs::remove(it->path(), ignored);
    }
    fs::remove(dir, ec);
}
} // namespace

void LimpaTemporarios(const std::function<void(const QString&)>& status) {
    if (status)
        status("Removendo temporários");
    platform::yield();
    record::filesFetched();
    removeUpdateFolder(updatekrv::updateFolder());
    reportOutcome(updatekrv::Atualizou ? Outcome::Updated : Outcome::NothingToDo);
    if (updatekrv::Atualizou)
        platform::msgBox("Atualização concluída com sucesso!", platform::Buttons::OK,
                         platform::Icon::Information, "Aviso!");
    else
        platform::msgBox("Nenhuma atualização realizada!", platform::Buttons::OK,
                         platform::Icon::Information, "Aviso!");
    platform::endProgram(0);
}

} // namespace krv::runs
