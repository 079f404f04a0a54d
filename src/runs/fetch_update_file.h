#pragma once
// Fetching one file of an update through the download progress window, and judging whether
// the whole file arrived: a failed, refused or partial download is never applied.
#include "download/download_engine.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class QWidget;

namespace krv::download {
class frmDownload;
}

namespace krv::runs {

struct FetchOutcome {
    bool whole = false;
    bool cancelled = false; // the user stopped it
    QString reason;         // why it is not whole, for the user
    // A whole file: the bytes this fetch received (a resumed one: only the rest) and the
    // nanoseconds it took.
    qint64 received = 0, elapsedNs = 0;
};

// Why a download failed, as the user reads it (Portuguese).
QString describeFailure(const download::DownloadFailure& failure, std::int32_t errorCode);

// completed: the component said the transfer completed; failure, errorCode: why not (its last
// DLECode, 0 when none); expectedSize: the size the server announced (0 when unknown); path:
// the file.
FetchOutcome judgeDownload(bool completed, const download::DownloadFailure& failure,
                           std::int32_t errorCode, std::int64_t expectedSize, const QString& path);

// What a fetch drives: a download engine, and what its host heard of it.
struct FetchHost {
    download::DownloadEngine& dl;
    std::function<bool()> completed;             // DLComplete was raised
    std::function<std::int32_t()> lastErrorCode; // the last DLECode, 0 when none
    std::function<void(std::int64_t)> sizeKnown; // the size the server announced
};

// Downloads url into path through host and judges the result. The bytes go to a part beside
// path (partFile) with a record of their source (partRecord); the part becomes path once
// whole. A part cut off by the connection or the user stays for the next fetch, which asks
// only for the rest when the server still has the same file; anything else that did not
// arrive whole is removed. listedSize: the size the release's manifest lists (-1: none); an
// answer announcing any other size is refused before a byte of its body is read.
FetchOutcome fetchThrough(FetchHost& host, const QString& url, const QString& path,
                          qint64 listedSize = -1);

// The same fetch in a fresh progress window with the heading, owned by owner. Defined with
// the windows (fetch_window.cpp), as is downloadUnderWay.
FetchOutcome fetchUpdateFile(QWidget* owner, const QString& heading, const QString& url,
                             const QString& path, qint64 listedSize = -1);

// The same fetch without a window: the download component alone, nobody to stop it (an
// unattended run).
FetchOutcome fetchQuietly(const QString& url, const QString& path, qint64 listedSize = -1);

QString partFile(const QString& path);
QString partRecord(const QString& path);

// Removes from folder the parts (and records) of downloads whose writing process has ended,
// except those of the names in resuming, which their next fetch judges.
void removeLeftoverParts(const QString& folder, const QStringList& resuming);

// The progress window of the fetch under way; null when there is none.
download::frmDownload* downloadUnderWay();

} // namespace krv::runs
