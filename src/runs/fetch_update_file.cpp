#include "runs/fetch_update_file.h"

#include "download/frm_download.h"
#include "platform/forms.h"

#include <QFile>
#include <QFileInfo>

namespace krv::runs {

using download::DownloadFailure;

QString describeFailure(const DownloadFailure& failure, std::int32_t errorCode) {
    switch (failure.kind) {
    case DownloadFailure::Kind::HttpStatus: {
        const QString code = QString("HTTP %1").arg(failure.status);
        if (failure.status == 404)
            return "o arquivo não existe no servidor (" + code + ")";
        if (failure.status == 401)
            return "acesso não autorizado pelo servidor (" + code + ")";
        if (failure.status == 403)
            return "acesso negado pelo servidor (" + code + ")";
        const QString reason = failure.statusLine.section(' ', 2).trimmed();
        return "o servidor respondeu com o código " + code +
               (reason.isEmpty() ? QString() : " (" + reason + ")");
    }
    case DownloadFailure::Kind::DiskFull:
        return "disco cheio";
    case DownloadFailure::Kind::Transport:
        return platform::describeFault(failure.fault, failure.detail);
    case DownloadFailure::Kind::Cancelled:
        return "o download foi interrompido pelo usuário";
    case DownloadFailure::Kind::Other:
        return QString("erro %1 (%2)").arg(errorCode).arg(failure.detail);
    case DownloadFailure::Kind::None:
        break;
    }
    return QString("erro %1").arg(errorCode);
}

FetchOutcome judgeDownload(bool completed, const DownloadFailure& failure, std::int32_t errorCode,
                           std::int64_t expectedSize, const QString& path) {
    if (errorCode != 0 || failure.kind != DownloadFailure::Kind::None)
        return {false, failure.kind == DownloadFailure::Kind::Cancelled,
                describeFailure(failure, errorCode)};
    if (!completed)
        return {false, false, "o download não foi concluído"};
    const QFileInfo fi(path);
    if (!fi.isFile())
        return {false, false, "o arquivo não foi gravado"};
    if (expectedSize > 0 && fi.size() != expectedSize)
        return {false, false, QString("recebidos %1 de %2 bytes").arg(fi.size()).arg(expectedSize)};
    return {true, false, {}};
}

FetchOutcome fetchUpdateFile(QWidget* owner, const QString& heading, const QString& url,
                             const QString& path) {
    auto& w = platform::form<download::frmDownload>();
    w.Label1->setText(heading);
    w.showOwnedBy(owner);
    w.Dl1->setUrl(url);
    w.Dl1->setSaveLocation(path);
    w.Dl1->GetFileInformation();
    const std::int64_t size = w.Dl1->FileSize();
    w.pb1->setMaximum(static_cast<int>(size));
    // An answer already refused (or a request cancelled) leaves nothing to receive.
    if (w.lastErrorCode() == 0)
        w.Dl1->Download();
    FetchOutcome outcome =
        judgeDownload(w.completed(), w.Dl1->Failure(), w.lastErrorCode(), size, path);
    // Deleted now, not at the next turn of the main loop: the next file gets a fresh window.
    platform::unload(&w);
    delete &w;
    if (!outcome.whole)
        QFile::remove(path);
    return outcome;
}

} // namespace krv::runs
