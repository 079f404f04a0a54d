#include "runs/fetch_item.h"

#include "download/protocol.h"
#include "platform/krv_error.h"
#include "runs/release_check.h"
#include "runs/update_record.h"

#include <QFileInfo>

namespace krv::runs {

FetchOutcome fetchFromServer(UpdateRecord& record, const Fetcher& fetcher, const QString& name,
                             const QString& path, qint64 listed, const QString& heading) {
    const QString url = protocol::fileUrl(name);
    const FetchOutcome got =
        fetcher ? fetcher(heading, url, path, listed) : fetchQuietly(url, path, listed);
    if (got.whole)
        record.downloaded(QFileInfo(path).fileName(), got.received, got.elapsedNs);
    return got;
}

bool fetchVerified(ReleaseCheck& release, UpdateRecord& record, const Fetcher& fetcher,
                   const WorkItem& item, const QString& heading) {
    const QString path = updatePath(item.file);
    const FetchOutcome got =
        fetchFromServer(record, fetcher, item.file, path, release.listedSize(item.file), heading);
    if (got.cancelled)
        return false;
    if (!got.whole)
        throw KrvError(err::Download, "O arquivo " + item.file + " não foi baixado: " + got.reason);
    release.requireListedContent(item.file, path, true);
    if (item.kind == WorkItem::Kind::Database)
        release.requireUpdateFileVersion(path, release.installedVersion(item.file));
    else if (item.kind == WorkItem::Kind::Assistant)
        release.requireAssistantVersion(item.file, path, item.installed);
    return true;
}

} // namespace krv::runs
