// The working methods of the download component: the request for information, the
// transfers and the flags that steer them.
#include "common/arredonda.h"
#include "common/krv_error.h"
#include "download/download_control.h"
#include "download/target_file.h"
#include "download/transfer_stats.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/program.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cmath>
#include <limits>

namespace krv::download {

namespace {

// The loop hands the event loop a turn this often while data flows.
constexpr int YieldEveryMs = 50;

// The clock as seconds since midnight, read cheaply: it is read once per chunk.
float secondsSinceMidnight() {
    static qint64 midnight = -1;
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (midnight < 0 || now - midnight >= 86'400'000 || now < midnight)
        midnight = QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch();
    return float(now - midnight) / 1000.0f;
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

} // namespace

struct DownLoad::LoopKind {
    QString status;
    std::int64_t offset; // bytes of the file present before the loop
};

void DownLoad::waitForHeaders() {
    while (Inet1.stillExecuting())
        platform::yield();
}

void DownLoad::idleWhilePaused() {
    platform::yield();
    // A held transfer waits without keeping the processor busy.
    QThread::msleep(10);
}

bool DownLoad::CheckConnection() {
    const ConnectionFlags flags = currentConnection();
    if (flags.modem)
        emit ConnectionState("Connected Via Modem.");
    if (flags.lan)
        emit ConnectionState("Connected Via LAN.");
    if (flags.proxy)
        emit ConnectionState("Connected Through A Proxy.");
    return flags.online;
}

void DownLoad::notConnected() {
    emit DLECode(5);
    emit DLError("No Connection Found!");
    emit StatusChange("Download aborted, no connection present!");
}

void DownLoad::GetFileInformation() {
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
            emit DLECode(4);
            emit StatusChange("cancelled.");
        };
        if (cancel_)
            return cancelled();
        const QString block = Inet1.getHeader();
        const QString status = block.mid(9, 3);
        if (status == "401") {
            emit StatusChange("Unauthorized Access, Download Terminated!");
            emit DLECode(401);
            emit DLError("Unauthorized Access!");
            resumeSupported_ = false;
            Inet1.cancel();
            fileExists_ = true;
            fileSize_ = 0;
            return;
        }
        if (status == "403") {
            emit StatusChange("Access Denied, Download Terminated!");
            emit DLECode(403);
            emit DLError("Access Denied!");
            resumeSupported_ = false;
            fileExists_ = true;
            fileSize_ = 0;
            Inet1.cancel();
            return;
        }
        if (status == "404") {
            emit DLError("File Not Found!");
            emit StatusChange("File Not Found!");
            emit DLECode(2);
            fileExists_ = false;
            fileSize_ = 0;
            Inet1.cancel();
            return;
        }
        if (cancel_)
            return cancelled();
        resumeSupported_ = block.mid(5, 3) == "1.1";
        fileExists_ = true;
        startTime_ = secondsSinceMidnight() - 1;
        fileSize_ = contentLength(Inet1.getHeader("Content-Length"));
        emit StatusChange("Retrieving File Information Complete!");
    } catch (const std::exception&) {
        emit DLError("Error Reading File Headers.");
        emit StatusChange("Error Reading File Headers!");
        emit DLECode(1);
    }
}

bool DownLoad::receiveLoop(const LoopKind& kind, TargetFile& file, std::int32_t chunkSize) {
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
        rate_ = float(bytesReceived_) / (secondsSinceMidnight() - startTime_);
        if (rate_ == 0)
            divisionByZero();
        timeLeft_ = float(fileSize_ - bytesReceived_) / rate_;
        emit Rate(FormatRate(rate_));
        emit TimeLeft(FormatTime(timeLeft_));
        const std::int32_t present = toLong(double(kind.offset) + bytesReceived_);
        emit RecievedBytes(present);
        if (fileSize_ == 0)
            divisionByZero();
        emit Percent(toLong(Arredonda(double(present) / fileSize_ * 100, 0)));
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
bool DownLoad::transferCutShort(std::int64_t bytesPresent) const {
    return Inet1.failed() || (fileSize_ > 0 && bytesPresent < fileSize_);
}

bool DownLoad::mayStart() {
    if (cancel_)
        return false;
    if (onlineCheck_ && !connected_) {
        notConnected();
        Inet1.cancel();
        return false;
    }
    return true;
}

void DownLoad::Download() {
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
    } catch (const std::exception&) {
        abortOnError(file);
    }
}

void DownLoad::DLResume() {
    if (!mayStart())
        return;
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
        Inet1.execute("Range: bytes=" + QString::number(offset) + "-");
        waitForHeaders();
        const QString block = Inet1.getHeader();
        waitForHeaders();
        bool isNumber = false;
        const int status = block.mid(9, 3).trimmed().toInt(&isNumber);
        if (!isNumber)
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
    } catch (const std::exception&) {
        abortOnError(file);
    }
}

void DownLoad::abortOnError(TargetFile& file) {
    Inet1.cancel();
    file.closeQuietly();
    inDL_ = false;
    emit DLError("Error Downloading File from : " + url_);
    emit StatusChange("Download Aborted Due To Error In Download!");
    emit DLECode(1);
}

void DownLoad::Cancel() {
    cancel_ = true;
    emit StatusChange("Cancelling..");
}

void DownLoad::Pause(bool blnPause) {
    pause_ = blnPause;
    if (!blnPause)
        emit StatusChange("Unpausing");
}

} // namespace krv::download
