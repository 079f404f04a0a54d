#pragma once
// Fetching one file of an update through the download progress window, and judging whether
// the whole file arrived: a failed, refused or partial download is never applied.
#include "download/download_control.h"

#include <QString>
#include <cstdint>

class QWidget;

namespace krv::runs {

struct FetchOutcome {
    bool whole = false;
    bool cancelled = false; // the user stopped it
    QString reason;         // why it is not whole, for the user
};

// Why a download failed, as the user reads it (Portuguese).
QString describeFailure(const download::DownloadFailure& failure, std::int32_t errorCode);

// completed: the component said the transfer completed; failure, errorCode: why not (its last
// DLECode, 0 when none); expectedSize: the size the server announced (0 when unknown); path:
// the file.
FetchOutcome judgeDownload(bool completed, const download::DownloadFailure& failure,
                           std::int32_t errorCode, std::int64_t expectedSize, const QString& path);

// Downloads url into path in a fresh progress window with the heading, owned by owner, and
// judges the result. A file that did not arrive whole is removed.
FetchOutcome fetchUpdateFile(QWidget* owner, const QString& heading, const QString& url,
                             const QString& path);

} // namespace krv::runs
