#pragma once
// The download component's working part, a plain object: fetches one file over HTTP into a
// local file and reports its progress through signals raised synchronously (a handler runs
// to its end before the transfer goes on, and may call Cancel or Pause). The control
// (download_control.h) puts a face on it for a window; a run without windows uses it alone.
//
// Calling protocol: setUrl, setSaveLocation, GetFileInformation (FileSize is known
// afterwards), then Download, which receives the answer GetFileInformation left pending.
// DLResume stands alone. The outcome comes only through the signals: DLComplete for a
// whole file, DLECode (with DLError) for a failure.
#include "platform/transfer.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>

namespace krv::download {

// Why the last method of a component ended without a whole file (DLECode tells that it did,
// this tells why, for a host that reports it).
struct DownloadFailure {
    enum class Kind { None, HttpStatus, DiskFull, Transport, Cancelled, Other };
    Kind kind = Kind::None;
    int status = 0;     // HttpStatus: the answer's status
    QString statusLine; // HttpStatus: the answer's status line
    platform::TransportFault fault = platform::TransportFault::None; // Transport
    QString detail;                                                  // the error's own words
};

// The host's store of a component's properties: only values that differ from their
// defaults are kept.
class PropertyBag {
public:
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue) const;
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue);
    bool contains(const QString& name) const { return values_.contains(name); }
    QStringList keys() const { return values_.keys(); }

private:
    QMap<QString, QVariant> values_;
};

class DownloadEngine : public QObject {
    Q_OBJECT

public:
    // The address a new instance holds until the host sets its own.
    static inline const QString PlaceholderUrl = "http://localhost/";
    static inline const QString DefaultSaveLocation = "C:\\File1.tmp";
    static constexpr std::int32_t DefaultChunk = 1024;

    explicit DownloadEngine(QObject* parent = nullptr);
    ~DownloadEngine() override;

    // Read-only state.
    QString filename() const { return GFN(url_); }
    bool InDL() const { return inDL_; }
    bool AResume() const { return resumeSupported_; }
    bool CPause() const { return pause_; }
    bool ccancel() const { return cancel_; }
    bool ResumeSupported() const { return resumeSupported_; }
    bool Connected() const { return connected_; }
    bool FileExists() const { return fileExists_; }
    std::int32_t FileSize() const { return fileSize_; }
    // The validators of the last answer GetFileInformation read ("ETag", "Last-Modified");
    // empty when the server sent none.
    QString ETag() const { return etag_; }
    QString LastModified() const { return lastModified_; }
    // Why the last transfer failed; Kind::None when nothing failed.
    const DownloadFailure& Failure() const { return failure_; }

    // Sent as "If-Range" with the range request of DLResume when not empty, so that a file
    // changed on the server comes whole instead of as the rest of another file.
    QString IfRange() const { return ifRange_; }
    void setIfRange(const QString& validator) { ifRange_ = validator; }

    // The transfer's set-up (TransferOptions::download() unless changed): time-outs, proxy.
    void setTransferOptions(platform::TransferOptions options) {
        Inet1.setOptions(std::move(options));
    }

    // The clock the rate and time left are computed from, in milliseconds. Monotonic by
    // default; a test may set its own (an empty function restores the default).
    static void setClock(std::function<std::int64_t()> clockMs);

    // Read/write properties; every setter stores the value as passed and raises
    // PropertyChanged with the property's name.
    std::int32_t ROLLBACK() const { return rollback_; }
    void setROLLBACK(std::int32_t lnumBYTES);
    bool PromptOverwrite() const { return promptOverwrite_; }
    void setPromptOverwrite(bool DoPrompt);
    bool OnlineCheck() const { return onlineCheck_; }
    void setOnlineCheck(bool DoCheck);
    bool KeepType() const { return keepType_; }
    void setKeepType(bool IsKeep);
    QString Url() const { return url_; }
    void setUrl(const QString& New_Url);
    std::int32_t CHUNK() const { return chunk_; }
    void setCHUNK(std::int32_t New_CHUNK);
    QString SaveLocation() const { return saveLocation_; }
    void setSaveLocation(const QString& New_Location);

    // Sends the GET for Url and reads the answer's status and headers.
    void GetFileInformation();
    // Receives the body of the answer GetFileInformation left pending into SaveLocation.
    // (The component's DownLoad method; the control bears that name.)
    void Download();
    // Continues an interrupted download of Url into the existing SaveLocation.
    void DLResume();
    // Asks the running method to stop at its next checkpoint.
    void Cancel();
    // Holds (true) or releases (false) a running transfer after its current chunk.
    void Pause(bool blnPause);
    // The file name of an address; unused by the system, answers the empty string.
    QString GFN(const QString& strFileName) const;

    // Host-driven hooks: a new instance, loading from and saving to the host's store.
    void InitProperties();
    void ReadProperties(const PropertyBag& PropBag);
    void WriteProperties(PropertyBag& PropBag) const;

signals:
    void DLComplete();
    void DLError(const QString& lpErrorDescription);
    void DLECode(std::int32_t lErrorCode);
    void RecievedBytes(std::int32_t lnumBYTES);
    void Percent(std::int32_t lPercent);
    void StatusChange(const QString& lpStatus);
    void Rate(const QString& lpRate);
    void TimeLeft(const QString& lpTime);
    void ConnectionState(const QString& strState);
    // The host's stored layout is out of date for this property.
    void PropertyChanged(const QString& PropertyName);

private:
    struct LoopKind;
    bool CheckConnection();
    void notConnected();
    // False, after telling why where there is something to tell, when no transfer may start.
    bool mayStart();
    // A transfer that failed part-way: the file closed as it is, the error events raised.
    void abortOnError(class TargetFile& file, const std::exception& error,
                      const QString& statusText);
    void failWithStatus(int status, const QString& statusLine);
    void noteFailure(DownloadFailure::Kind kind, const QString& detail = {});
    bool receiveLoop(const LoopKind& kind, class TargetFile& file, std::int32_t chunkSize);
    bool transferCutShort(std::int64_t bytesPresent) const;
    void waitForHeaders();
    void idleWhilePaused();

    bool resumeSupported_ = false;
    bool cancel_ = false;
    bool pause_ = false;
    QString url_;
    std::int32_t fileSize_ = 0;
    std::int32_t chunk_ = DefaultChunk;
    bool fileExists_ = false;
    std::int32_t bytesReceived_ = 0;
    QString saveLocation_;
    bool keepType_ = false;
    bool onlineCheck_ = false;
    bool promptOverwrite_ = false;
    bool connected_ = false;
    std::int32_t rollback_ = 0;
    bool inDL_ = false;
    double startTime_ = 0; // seconds on the clock above
    float timeLeft_ = 0;
    float rate_ = 0;

    QString etag_, lastModified_, ifRange_;
    DownloadFailure failure_;

    platform::InetTransfer Inet1;
};

} // namespace krv::download
