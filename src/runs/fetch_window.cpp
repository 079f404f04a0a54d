// The fetch of one update file in the download progress window.
#include "download/frm_download.h"
#include "platform/forms.h"
#include "runs/fetch_update_file.h"

#include <QPointer>

namespace krv::runs {

namespace {

QPointer<download::frmDownload>& underWay() {
    static QPointer<download::frmDownload> window;
    return window;
}

} // namespace

download::frmDownload* downloadUnderWay() {
    return underWay().data();
}

FetchOutcome fetchUpdateFile(QWidget* owner, const QString& heading, const QString& url,
                             const QString& path, qint64 listedSize) {
    auto& w = platform::form<download::frmDownload>();
    underWay() = &w;
    w.Label1->setText(heading);
    w.showOwnedBy(owner);
    w.running = true;
    FetchHost host{w.Dl1->engine(), [&w] { return w.completed(); },
                   [&w] { return w.lastErrorCode(); },
                   [&w](std::int64_t size) { w.pb1->setMaximum(static_cast<int>(size)); }};
    const FetchOutcome outcome = fetchThrough(host, url, path, listedSize);
    w.running = false;
    // Deleted now, not at the next turn of the main loop: the next file gets a fresh window.
    platform::unload(&w);
    delete &w;
    return outcome;
}

WindowFetching::WindowFetching(Fetcher& fetcher, QWidget* owner) : fetcher_(fetcher) {
    fetcher_ = [owner](const QString& heading, const QString& url, const QString& path,
                       qint64 listedSize) {
        return fetchUpdateFile(owner, heading, url, path, listedSize);
    };
}

} // namespace krv::runs
