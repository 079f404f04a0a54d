// The working methods of the download component: the request for information, the
// transfers and the flags that steer them.
#include "download/download_engine.h"
#include "common/arredonda.h"
#include "download/target_file.h"
#include "download/transfer_stats.h"
#include "platform/dialogs.h"
#include "platform/krv_error.h"
#include "platform/paths.h"
#include "platform/program.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cmath>
#include <limits>

namespace krv::download {

namespace {

// The loop hands the event loop a turn this often while data flows.
constexpr int YieldEveryMs = 50;

std::function<std::int64_t()>& clockSource() {
    static std::function<std::int64_t()> clock;
    return clock;
}

// The rate's clock in seconds. Monotonic: a wall clock that passes midnight or is set back
// would make the rate and the time left negative.
double clockSeconds() {
    if (const auto& custom = clockSource())
        return double(custom()) / 1000.0;
    static QElapsedTimer monotonic;
    if (!monotonic.isValid())
        monotonic.start();
    return double(monotonic.elapsed()) / 1000.0;
}

[[noreturn]] void divisionByZero() {
    throw KrvError(11, "Division by zero");
}
[[noreturn]] void overflow() {
    throw KrvError(6, "Overflow");
}

std::int32_t toLong(double v) {
    if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0)
        overflow();
    return std::int32_t(std::nearbyint(v));
}

// The value of a Content-Length header as a 32-bit number.
std::int32_t contentLength(const QString& text) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok)
        throw KrvError(13, "Type mismatch");
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        overflow();
    return std::int32_t(v);
}

// The runtime's number for a full disk.
constexpr int DiskFullError = 61;

} // namespace

void DownloadEngine::setClock(std::function<std::int64_t()> clockMs) {
    clockSource() = std::move(clockMs);
}

struct DownloadEngine::LoopKind {
    QString status;
    std::int64_t offset; // bytes of the file present before the loop
};

void DownloadEngine::waitForHeaders() {
    while (Inet1.stillExecuting())
        platform::yield();
}

void DownloadEngine::idleWhilePaused() {
    platform::yield();
    // A held transfer waits without keeping the processor busy.
    QThread::msleep(10);
}

bool DownloadEngine::CheckConnection() {
    const ConnectionFlags flags = currentConnection();
    if (flags.modem)
        emit ConnectionState("Connected Via Modem.");
    if (flags.lan)
        emit ConnectionState("Connected Via LAN.");
    if (flags.proxy)
        emit ConnectionState("Connected Through A Proxy.");
    return flags.online;
}

void DownloadEngine::notConnected() {
    emit DLECode(5);
    emit DLError("No Connection Found!");
    emit StatusChange("Download aborted, no connection present!");
}

void DownloadEngine::noteFailure(DownloadFailure::Kind kind, const QString& detail) {
    failure_ = {};
    failure_.kind = kind;
    failure_.detail = detail;
}

// Any answer but the file itself: what was sent is an error page, a redirection or a part,
// never the file, so nothing may be written from it.
void DownloadEngine::failWithStatus(int status, const QString& statusLine) {
    const QString reason = statusLine.section(' ', 2).trimmed();
    emit StatusChange(QString("Server Answered %1, Download Terminated!").arg(status));
    emit DLECode(status);
    emit DLError(QString("Server Answered HTTP Status %1%2!")
                     .arg(status)
                     .arg(reason.isEmpty() ? QString() : " (" + reason + ")"));
    resumeSupported_ = false;
    fileExists_ = false;
    fileSize_ = 0;
    Inet1.cancel();
}

void DownloadEngine::GetFileInformation() {
    failure_ = {};
    etag_.clear();
    lastModified_.clear();
    try {
        if (cancel_)
            cancel_ = false;
        if (onlineCheck_) {
            if (CheckConnection()) {
                connected_ = true;
            } else {
                platform::msgBox("No Internet connection was found.");
                connected_ = false;
                notConnected();
                return;
            }
        }
        Inet1.setUrl(url_);
        Inet1.execute();
        emit StatusChange("Initiating Connection...");
        waitForHeaders();
        emit StatusChange("Connection Accepted, Retrieving File Information.");
        auto cancelled = [this] {
            cancel_ = false;
            noteFailure(DownloadFailure::Kind::Cancelled);
            emit DLECode(4);
            emit StatusChange("cancelled.");
        };
        if (cancel_)
            return cancelled();
        const int status = Inet1.status();
        const QString statusLine = Inet1.getHeader().section("\r\n", 0, 0);
        auto refused = [&](int number) {
            failure_ = {};
            failure_.kind = DownloadFailure::Kind::HttpStatus;
            failure_.status = number;
            failure_.statusLine = statusLine;
        };
        if (status == 401 || status == 403 || status == 404)
            refused(status);
        if (status == 401) {
            emit StatusChange("Unauthorized Access, Download Terminated!");
            emit DLECode(401);
            emit DLError("Unauthorized Access!");
            resumeSupported_ = false;
            Inet1.cancel();
            fileExists_ = true;
            fileSize_ = 0;
            return;
        }
        if (status == 403) {
            emit StatusChange("Access Denied, Download Terminated!");
            emit DLECode(403);
            emit DLError("Access Denied!");
            resumeSupported_ = false;
            fileExists_ = true;
            fileSize_ = 0;
            Inet1.cancel();
            return;
        }
        if (status == 404) {
            emit DLError("File Not Found!");
            emit StatusChange("File Not Found!");
            emit DLECode(2);
            fileExists_ = false;
            fileSize_ = 0;
            Inet1.cancel();
            return;
        }
        // No status at all (no answer came) goes on to the missing length below.
        if (status != 0 && status != 200) {
            refused(status);
            return failWithStatus(status, statusLine);
        }
        if (cancel_)
            return cancelled();
        // Ranges came with HTTP/1.1: an HTTP/1.0 server is not asked for them; a later
        // version has them too.
        const QString version = Inet1.httpVersion();
        resumeSupported_ = !version.isEmpty() && version != "1.0";
        fileExists_ = true;
        startTime_ = clockSeconds() - 1;
        etag_ = Inet1.getHeader("ETag");
        lastModified_ = Inet1.getHeader("Last-Modified");
        fileSize_ = contentLength(Inet1.getHeader("Content-Length"));
        emit StatusChange("Retrieving File Information Complete!");
    } catch (const std::exception& e) {
        if (Inet1.failed()) {
            noteFailure(DownloadFailure::Kind::Transport, Inet1.errorText());
            failure_.fault = Inet1.fault();
        } else {
            noteFailure(DownloadFailure::Kind::Other, QString::fromLocal8Bit(e.what()));
        }
        emit DLError("Error Reading File Headers.");
        emit StatusChange("Error Reading File Headers!");
        emit DLECode(1);
    }
}

bool DownloadEngine::receiveLoop(const LoopKind& kind, TargetFile& file, std::int32_t chunkSize) {
    QElapsedTimer sinceYield;
    sinceYield.start();
    for (;;) {
        // Lets the window repaint and a click on the host's Cancel or Pause reach us.
        if (sinceYield.elapsed() >= YieldEveryMs) {
            platform::yield();
            sinceYield.restart();
        }
        if (cancel_) {
            cancel_ = false;
            noteFailure(DownloadFailure::Kind::Cancelled);
            file.close();
            inDL_ = false;
            emit DLECode(4);
            emit StatusChange("Cancelled.");
            return false;
        }
        const QByteArray chunk = Inet1.getChunk(chunkSize);
        file.write(chunk);
        const std::int64_t received = std::int64_t(bytesReceived_) + chunk.size();
        if (received > std::numeric_limits<std::int32_t>::max())
            overflow();
        bytesReceived_ = std::int32_t(received);
        // An empty first chunk is an empty body: nothing flowed, nothing is left.
        const bool emptyBody = bytesReceived_ == 0 && chunk.isEmpty() && kind.offset == 0;
        rate_ = float(double(bytesReceived_) / (clockSeconds() - startTime_));
        if (rate_ == 0 && !emptyBody)
            divisionByZero();
        timeLeft_ = emptyBody ? 0.0f : float(fileSize_ - bytesReceived_) / rate_;
        emit Rate(FormatRate(rate_));
        emit TimeLeft(FormatTime(timeLeft_));
        const std::int32_t present = toLong(double(kind.offset) + bytesReceived_);
        emit RecievedBytes(present);
        if (fileSize_ == 0 && !emptyBody)
            divisionByZero();
        emit Percent(fileSize_ == 0 ? 100
                                    : toLong(Arredonda(double(present) / fileSize_ * 100, 0)));
        emit StatusChange(kind.status);
        while (pause_) {
            idleWhilePaused();
            emit StatusChange("Paused.");
        }
        if (chunk.size() - 1 < 1)
            return true;
    }
}

// A loop that ended on a dropped connection or before the announced size is no success.
bool DownloadEngine::transferCutShort(std::int64_t bytesPresent) const {
    return Inet1.failed() || (fileSize_ > 0 && bytesPresent < fileSize_);
}

bool DownloadEngine::mayStart() {
    if (cancel_)
        return false;
    if (onlineCheck_ && !connected_) {
        notConnected();
        Inet1.cancel();
        return false;
    }
    return true;
}

void DownloadEngine::Download() {
    if (!mayStart())
        return;
    TargetFile file;
    try {
        Inet1.setUrl(url_);
        const std::int32_t chunkSize = chunk_;
        QString target = saveLocation_;
        // Nothing to receive (refused, missing, dead server): the target stays as it was.
        if (!Inet1.hasAnswer())
            throw KrvError(err::Download, "No answer to receive");
        if (keepType_)
            target = KeepTypeName(url_, target);
        if (promptOverwrite_)
            target = OverwriteDialogue(target);
        else
            deleteTarget(target);
        file.open(target);
        emit StatusChange("Downloading Files...");
        inDL_ = true;
        bytesReceived_ = 0;
        if (!receiveLoop({"Downloading Files.", 0}, file, chunkSize))
            return;
        if (transferCutShort(bytesReceived_))
            throw KrvError(err::Download, "Transfer cut short: " + Inet1.errorText());
        // A file written over in place keeps nothing of its old tail.
        file.truncateHere();
        file.close();
        inDL_ = false;
        emit DLComplete();
        emit StatusChange("Update Checking Complete!");
        Inet1.cancel();
    } catch (const std::exception& e) {
        abortOnError(file, e, {});
    }
}

void DownloadEngine::DLResume() {
    if (!mayStart())
        return;
    failure_ = {};
    TargetFile file;
    try {
        Inet1.setUrl(url_);
        const std::int32_t chunkSize = chunk_;
        const QString target = saveLocation_;
        if (!platform::ordinaryFileExists(target)) {
            emit DLError("Resume File Not Found!");
            emit DLECode(6);
            emit StatusChange("Resume File Not Found, Aborting Download!");
            return;
        }
        if (!resumeSupported_) {
            emit DLError("Resume Not Supported!");
            emit DLECode(7);
            emit StatusChange("Resume NotSupported, Aborting Download!");
            return;
        }
        GetFileInformation();
        Inet1.cancel();
        waitForHeaders();
        platform::yield();
        const std::int64_t offset = QFileInfo(target).size() - rollback_;
        QStringList request = {"Range: bytes=" + QString::number(offset) + "-"};
        if (!ifRange_.isEmpty())
            request << "If-Range: " + ifRange_;
        Inet1.execute(request);
        waitForHeaders();
        const int status = Inet1.status();
        waitForHeaders();
        if (status == 0)
            throw KrvError(13, "Type mismatch");
        if (status != 206) {
            emit StatusChange("Resume Failed.");
            return;
        }
        // Only the bytes asked for may be appended.
        const QString range = Inet1.getHeader("Content-Range");
        if (!range.startsWith("bytes " + QString::number(offset) + "-")) {
            Inet1.cancel();
            emit StatusChange("Resume Failed.");
            return;
        }
        file.open(target);
        file.seek(offset);
        emit StatusChange("Resuming " + target + ".");
        inDL_ = true;
        bytesReceived_ = 0;
        if (!receiveLoop({"Recieving File, Inputting DATA to File.", offset}, file, chunkSize))
            return;
        if (transferCutShort(offset + bytesReceived_))
            throw KrvError(err::Download, "Transfer cut short: " + Inet1.errorText());
        file.close();
        inDL_ = false;
        emit DLComplete();
        emit StatusChange("Download Successful!");
        Inet1.cancel();
    } catch (const std::exception& e) {
        abortOnError(file, e, "Download Aborted Due To Error In Download!");
    }
}

// statusText: the status to raise; empty for one that names the cause.
void DownloadEngine::abortOnError(TargetFile& file, const std::exception& error,
                                  const QString& statusText) {
    const auto* krv = dynamic_cast<const KrvError*>(&error);
    QString cause;
    if (krv && krv->number() == DiskFullError) {
        noteFailure(DownloadFailure::Kind::DiskFull, krv->description());
        cause = "Disk Full";
    } else if (Inet1.failed()) {
        noteFailure(DownloadFailure::Kind::Transport, Inet1.errorText());
        failure_.fault = Inet1.fault();
        cause = platform::faultCause(failure_.fault);
    } else if (failure_.kind == DownloadFailure::Kind::None) {
        // A failure seen earlier (the answer refused) is the better reason: it stays.
        noteFailure(DownloadFailure::Kind::Other,
                    krv ? krv->description() : QString::fromLocal8Bit(error.what()));
    }
    Inet1.cancel();
    file.closeQuietly();
    inDL_ = false;
    emit DLError("Error Downloading File from : " + url_);
    emit StatusChange(
        !statusText.isEmpty() || cause.isEmpty()
            ? (statusText.isEmpty() ? "Download Aborted Due To Error In Download!" : statusText)
            : "Download Aborted: " + cause + "!");
    emit DLECode(1);
}

void DownloadEngine::Cancel() {
    cancel_ = true;
    emit StatusChange("Cancelling..");
}

void DownloadEngine::Pause(bool blnPause) {
    pause_ = blnPause;
    if (!blnPause)
        emit StatusChange("Unpausing");
}

} // namespace krv::download
