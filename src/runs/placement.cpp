#include "runs/placement.h"

#include "common/updatekrv.h"
#include "runs/kept_files.h"
#include "runs/release_check.h"
#include "runs/update_record.h"

#include <QFile>
#include <QJsonObject>

namespace krv::runs {

QString putBackText(const rollback::FileResult& result) {
    const qsizetype back = result.restored.size() + result.removed.size();
    if (result.failed.isEmpty())
        return "Os " + QString::number(back) +
               " arquivo(s) substituído(s) por esta atualização foram restaurados; a próxima "
               "atualização aplicará a versão novamente.";
    return "Não foi possível restaurar " + result.failed.join("; ") + ". " + QString::number(back) +
           " arquivo(s) foram restaurados; conclua com zelvor --rollback.";
}

void Placement::place(const UpdateRecord& record, const ReleaseCheck& release,
                      const std::function<void(const QString&)>& status) {
    if (pending_.empty())
        return;
    QStringList paths;
    for (const PendingArchive& a : pending_)
        paths << a.path;
    kept::beforeUnpacking(record, paths);
    started_ = true;
    while (!pending_.empty()) {
        const PendingArchive& a = pending_.front();
        if (!a.status.isEmpty())
            status(a.status);
        const StagedCheck check = release.moduleCheck(a.name, updatekrv::DirSis);
        if (a.rebuilt)
            placeRebuilt(a.name, updatekrv::DirSis, *a.rebuilt, check);
        else
            Descompacta(a.path, "*.*", updatekrv::DirSis, 0, check);
        pending_.erase(pending_.begin());
    }
}

rollback::FileResult Placement::undo(UpdateRecord& record) {
    rollback::FileResult result;
    if (started_)
        result = rollback::undoFiles(updatekrv::DirSis, record.keepFolder(), record.keptFiles());
    for (const QString& name : result.restored)
        record.note("files_put_back", QJsonObject{{"name", name}, {"result", "restored"}});
    for (const QString& name : result.removed)
        record.note("files_put_back", QJsonObject{{"name", name}, {"result", "removed"}});
    for (const QString& failed : result.failed)
        record.note("files_put_back", QJsonObject{{"name", failed.section(": ", 0, 0)},
                                                  {"result", "failed"},
                                                  {"reason", failed.section(": ", 1)}});
    clear();
    return result;
}

void Placement::clear() {
    for (const PendingArchive& a : pending_)
        if (a.rebuilt)
            for (const StagedMember& m : *a.rebuilt)
                QFile::remove(m.path);
    pending_.clear();
    started_ = false;
}

} // namespace krv::runs
