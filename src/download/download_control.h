#pragma once
// The download component as a window hosts it (frmDownload's Dl1): the face of the ActiveX
// control it stands in for, over the engine (download_engine.h) that does the work. Every
// property, method and event is the engine's, passed through unchanged.
#include "download/download_engine.h"

#include <QWidget>

namespace krv::download {

class DownLoad : public QWidget {
    Q_OBJECT
    Q_CLASSINFO("RegisteredName", "Quorvel.DownLoad")

public:
    static inline const QString PlaceholderUrl = DownloadEngine::PlaceholderUrl;
    static inline const QString DefaultSaveLocation = DownloadEngine::DefaultSaveLocation;
    static constexpr std::int32_t DefaultChunk = DownloadEngine::DefaultChunk;

    explicit DownLoad(QWidget* parent = nullptr);
    ~DownLoad() override;

    DownloadEngine& engine() { return engine_; }
    const DownloadEngine& engine() const { return engine_; }

    QString filename() const { return engine_.filename(); }
    bool InDL() const { return engine_.InDL(); }
    bool AResume() const { return engine_.AResume(); }
    bool CPause() const { return engine_.CPause(); }
    bool ccancel() const { return engine_.ccancel(); }
    bool ResumeSupported() const { return engine_.ResumeSupported(); }
    bool Connected() const { return engine_.Connected(); }
    bool FileExists() const { return engine_.FileExists(); }
    std::int32_t FileSize() const { return engine_.FileSize(); }
    QString ETag() const { return engine_.ETag(); }
    QString LastModified() const { return engine_.LastModified(); }
    const DownloadFailure& Failure() const { return engine_.Failure(); }
    QString IfRange() const { return engine_.IfRange(); }
    void setIfRange(const QString& validator) { engine_.setIfRange(validator); }
    void setTransferOptions(platform::TransferOptions options) {
        engine_.setTransferOptions(std::move(options));
    }
    static void setClock(std::function<std::int64_t()> clockMs) {
        DownloadEngine::setClock(std::move(clockMs));
    }

    std::int32_t ROLLBACK() const { return engine_.ROLLBACK(); }
    void setROLLBACK(std::int32_t lnumBYTES) { engine_.setROLLBACK(lnumBYTES); }
    bool PromptOverwrite() const { return engine_.PromptOverwrite(); }
    void setPromptOverwrite(bool DoPrompt) { engine_.setPromptOverwrite(DoPrompt); }
    bool OnlineCheck() const { return engine_.OnlineCheck(); }
    void setOnlineCheck(bool DoCheck) { engine_.setOnlineCheck(DoCheck); }
    bool KeepType() const { return engine_.KeepType(); }
    void setKeepType(bool IsKeep) { engine_.setKeepType(IsKeep); }
    QString Url() const { return engine_.Url(); }
    void setUrl(const QString& New_Url) { engine_.setUrl(New_Url); }
    std::int32_t CHUNK() const { return engine_.CHUNK(); }
    void setCHUNK(std::int32_t New_CHUNK) { engine_.setCHUNK(New_CHUNK); }
    QString SaveLocation() const { return engine_.SaveLocation(); }
    void setSaveLocation(const QString& New_Location) { engine_.setSaveLocation(New_Location); }

    void GetFileInformation() { engine_.GetFileInformation(); }
    void Download() { engine_.Download(); }
    void DLResume() { engine_.DLResume(); }
    void Cancel() { engine_.Cancel(); }
    void Pause(bool blnPause) { engine_.Pause(blnPause); }
    QString GFN(const QString& strFileName) const { return engine_.GFN(strFileName); }

    void InitProperties() { engine_.InitProperties(); }
    void ReadProperties(const PropertyBag& PropBag) { engine_.ReadProperties(PropBag); }
    void WriteProperties(PropertyBag& PropBag) const { engine_.WriteProperties(PropBag); }

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
    void PropertyChanged(const QString& PropertyName);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DownloadEngine engine_;
};

} // namespace krv::download
