#include "runs/fetch_update_file.h"

#include "download/frm_download.h"
#include "platform/forms.h"

#include <QFile>
#include <QFileInfo>

namespace krv::runs {

FetchOutcome judgeDownload(bool completed, std::int32_t errorCode, const QString& errorText,
                           std::int64_t expectedSize, const QString& path) {
    if (errorCode != 0)
        return {false, QString("erro %1%2")
                           .arg(errorCode)
                           .arg(errorText.isEmpty() ? QString() : " (" + errorText + ")")};
    if (!completed)
        return {false, "o download não foi concluído"};
    const QFileInfo fi(path);
    if (!fi.isFile())
        return {false, "o arquivo não foi gravado"};
    if (expectedSize > 0 && fi.size() != expectedSize)
        return {false, QString("recebidos %1 de %2 bytes").arg(fi.size()).arg(expectedSize)};
    return {true, {}};
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
    w.Dl1->Download();
    FetchOutcome outcome =
        judgeDownload(w.completed(), w.lastErrorCode(), w.lastError(), size, path);
    // Deleted now, not at the next turn of the main loop: the next file gets a fresh window.
    platform::unload(&w);
    delete &w;
    if (!outcome.whole)
        QFile::remove(path);
    return outcome;
}

} // namespace krv::runs
