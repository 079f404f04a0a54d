#include "runs/fetch_update_file.h"

#include "platform/program.h"
#include "platform/scratch_file.h"
#include "platform/test_hook.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

namespace krv::runs {

using download::DownloadFailure;

namespace {

// What a partial download was started from; the part is resumed only against the same file.
struct PartRecord {
    QString url;
    qint64 size = -1;
    QString etag, lastModified;
    qint64 pid = 0; // the process that writes the part
    // The server's word for the version of the file: its tag, else its date.
    QString validator() const { return etag.isEmpty() ? lastModified : etag; }
};

std::optional<PartRecord> readRecord(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    PartRecord r;
    bool hasUrl = false, hasSize = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const QString key = line.section('=', 0, 0), value = line.section('=', 1);
        if (key == "url") {
            r.url = value;
            hasUrl = true;
        } else if (key == "size") {
            r.size = value.toLongLong(&hasSize);
        } else if (key == "etag") {
            r.etag = value;
        } else if (key == "last-modified") {
            r.lastModified = value;
        } else if (key == "pid") {
            r.pid = value.toLongLong();
        }
    }
    if (!hasUrl || !hasSize)
        return std::nullopt;
    return r;
}

bool writeRecord(const QString& path, const PartRecord& r) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(("url=" + r.url + "\nsize=" + QString::number(r.size) + "\netag=" + r.etag +
             "\nlast-modified=" + r.lastModified + "\npid=" + QString::number(r.pid) + "\n")
                .toUtf8());
    return f.commit();
}

void removePart(const QString& path) {
    QFile::remove(partFile(path));
    QFile::remove(partRecord(path));
}

// A part worth resuming: recorded for this address, this size and this version of the file,
// and shorter than the file.
bool resumable(const QString& path, const QString& url, const download::DownloadEngine& dl) {
    const QFileInfo part(partFile(path));
    const auto record = readRecord(partRecord(path));
    const QString now = dl.ETag().isEmpty() ? dl.LastModified() : dl.ETag();
    return record && part.isFile() && dl.ResumeSupported() && record->url == url &&
           record->size == dl.FileSize() && !now.isEmpty() && record->validator() == now &&
           part.size() > 0 && part.size() < dl.FileSize();
}

// Failures after which what arrived is still the start of the file.
bool keepsThePart(const DownloadFailure& f) {
    return f.kind == DownloadFailure::Kind::Transport ||
           f.kind == DownloadFailure::Kind::Cancelled || f.kind == DownloadFailure::Kind::DiskFull;
}

} // namespace

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

QString partFile(const QString& path) {
    return path + ".part";
}

QString partRecord(const QString& path) {
    return path + ".part.info";
}

void removeLeftoverParts(const QString& folder, const QStringList& resuming) {
    const QDir dir(folder);
    const auto fileOf = [](QString name) {
        name.chop(name.endsWith(".info") ? 10 : 5);
        return name;
    };
    const auto recordOf = [&](const QString& name) {
        return readRecord(partRecord(dir.filePath(fileOf(name))));
    };
    // The writer is in the part's record, not its name; no record, no writer. Only another
    // process can still be writing a part this one comes across.
    const auto writer = [&](const QString& name) {
        const auto record = recordOf(name);
        return record && record->pid != ::getpid() ? record->pid : 0;
    };
    // Judged against the server when it is fetched.
    const auto resumed = [&](const QString& name) {
        return resuming.contains(fileOf(name)) && recordOf(name);
    };
    platform::removeEndedScratch(folder, {"*.part", "*.part.info"}, writer, resumed);
}

namespace {

struct Fetched {
    FetchOutcome outcome;
    DownloadFailure failure;
    qint64 resumedFrom = 0;
};

// Downloads url into the part beside path through host and judges the result.
Fetched fetchPart(FetchHost& host, const QString& url, const QString& path, qint64 listedSize) {
    download::DownloadEngine& dl = host.dl;
    // The file is written as a part beside its place and renamed there once whole, so that
    // a file cut off is never taken for the file, and the next run can go on from it.
    const QString part = partFile(path);
    qint64 resumedFrom = 0;
    dl.setUrl(url);
    dl.setSaveLocation(part);
    // Where the tests cut a download off half-way, as a lost connection would.
    const QMetaObject::Connection halfway =
        QObject::connect(&dl, &download::DownloadEngine::RecievedBytes,
                         [&dl, reached = false](std::int32_t n) mutable {
                             if (!reached && dl.FileSize() > 0 && qint64(n) * 2 >= dl.FileSize()) {
                                 reached = true;
                                 platform::hook::pausePoint("download-halfway");
                             }
                         });
    dl.GetFileInformation();
    std::int64_t size = dl.FileSize();
    host.sizeKnown(size);
    // A body longer (or shorter) than the release lists is not its file: not one byte is read.
    const bool unlisted = listedSize >= 0 && host.lastErrorCode() == 0 && size != listedSize;
    // An answer already refused (or a request cancelled) leaves nothing to receive.
    if (host.lastErrorCode() == 0 && !unlisted) {
        bool resumed = false;
        if (resumable(path, url, dl)) {
            resumedFrom = QFileInfo(part).size();
            dl.setIfRange(dl.ETag().isEmpty() ? dl.LastModified() : dl.ETag());
            dl.DLResume();
            // Anything but the rest of the same file ("Resume Failed."): start over.
            resumed = host.completed() || host.lastErrorCode() != 0;
            if (!resumed) {
                resumedFrom = 0;
                dl.GetFileInformation();
                size = dl.FileSize();
                host.sizeKnown(size);
            }
        }
        if (!resumed && host.lastErrorCode() == 0) {
            removePart(path);
            PartRecord record{url, size, dl.ETag(), dl.LastModified(), ::getpid()};
            writeRecord(partRecord(path), record);
            dl.Download();
        }
    }
    QObject::disconnect(halfway);
    Fetched f;
    f.failure = dl.Failure();
    f.resumedFrom = resumedFrom;
    f.outcome = judgeDownload(host.completed(), f.failure, host.lastErrorCode(), size, part);
    if (unlisted)
        f.outcome = {false, false,
                     QString("o servidor anuncia %1 bytes, e o manifesto da versão lista %2; "
                             "arquivo recusado")
                         .arg(size)
                         .arg(listedSize)};
    return f;
}

// A whole part becomes the file and is recorded; what did not arrive whole is kept for the
// next fetch or removed.
FetchOutcome settle(const Fetched& f, const QString& path, const QElapsedTimer& clock) {
    FetchOutcome outcome = f.outcome;
    const QString part = partFile(path);
    if (outcome.whole) {
        if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) !=
            0)
            outcome = {false, false, "não foi possível gravar " + path};
        QFile::remove(partRecord(path));
        if (outcome.whole) {
            outcome.received = QFileInfo(path).size() - f.resumedFrom;
            outcome.elapsedNs = clock.nsecsElapsed();
        }
    } else if (!keepsThePart(f.failure) || QFileInfo(part).size() == 0) {
        removePart(path);
    }
    return outcome;
}

} // namespace

FetchOutcome fetchThrough(FetchHost& host, const QString& url, const QString& path,
                          qint64 listedSize) {
    // Timed here rather than read from the component: its rate is for the window's caption and
    // does not know what a resume saved.
    QElapsedTimer clock;
    clock.start();
    const Fetched f = fetchPart(host, url, path, listedSize);
    return settle(f, path, clock);
}

FetchOutcome fetchQuietly(const QString& url, const QString& path, qint64 listedSize) {
    // The engine alone, no widget: nobody watches, nobody may stop it.
    download::DownloadEngine dl;
    bool completed = false;
    std::int32_t lastErrorCode = 0;
    QObject::connect(&dl, &download::DownloadEngine::DLComplete,
                     [&completed] { completed = true; });
    QObject::connect(&dl, &download::DownloadEngine::DLECode,
                     [&lastErrorCode](std::int32_t code) { lastErrorCode = code; });
    FetchHost host{dl, [&completed] { return completed; },
                   [&lastErrorCode] { return lastErrorCode; }, [](std::int64_t) {}};
    return fetchThrough(host, url, path, listedSize);
}

} // namespace krv::runs
