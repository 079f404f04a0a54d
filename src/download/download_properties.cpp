// The engine's properties and how a host stores them.
#include "download/download_engine.h"

namespace krv::download {

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const {
    return values_.value(name, defaultValue);
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value,
                                const QVariant& defaultValue) {
    if (value == defaultValue)
        values_.remove(name);
    else
        values_.insert(name, value);
}

DownloadEngine::DownloadEngine(QObject* parent) : QObject(parent) {
    InitProperties();
}

DownloadEngine::~DownloadEngine() = default;

void DownloadEngine::setROLLBACK(std::int32_t lnumBYTES) {
    rollback_ = lnumBYTES;
    emit PropertyChanged("ROLLBACK");
}

void DownloadEngine::setPromptOverwrite(bool DoPrompt) {
    promptOverwrite_ = DoPrompt;
    emit PropertyChanged("PromptOverwrite");
}

void DownloadEngine::setOnlineCheck(bool DoCheck) {
    onlineCheck_ = DoCheck;
    emit PropertyChanged("OnlineCheck");
}

void DownloadEngine::setKeepType(bool IsKeep) {
    keepType_ = IsKeep;
    emit PropertyChanged("KeepType");
}

void DownloadEngine::setUrl(const QString& New_Url) {
    url_ = New_Url;
    emit PropertyChanged("Url");
}

void DownloadEngine::setCHUNK(std::int32_t New_CHUNK) {
    chunk_ = New_CHUNK;
    emit PropertyChanged("CHUNK");
}

void DownloadEngine::setSaveLocation(const QString& New_Location) {
    saveLocation_ = New_Location;
    emit PropertyChanged("SaveLocation");
}

QString DownloadEngine::GFN(const QString&) const {
    return {};
}

void DownloadEngine::InitProperties() {
    url_ = PlaceholderUrl;
    chunk_ = DefaultChunk;
    saveLocation_ = DefaultSaveLocation;
    keepType_ = false;
    onlineCheck_ = false;
    promptOverwrite_ = false;
}

void DownloadEngine::ReadProperties(const PropertyBag& PropBag) {
    url_ = PropBag.ReadProperty("URL", PlaceholderUrl).toString();
    chunk_ = PropBag.ReadProperty("CHUNK", DefaultChunk).toInt();
    saveLocation_ = PropBag.ReadProperty("SaveLocation", DefaultSaveLocation).toString();
    keepType_ = PropBag.ReadProperty("KeepType", false).toBool();
    onlineCheck_ = PropBag.ReadProperty("OnlineCheck", false).toBool();
    promptOverwrite_ = PropBag.ReadProperty("PromptOverwrite", false).toBool();
}

void DownloadEngine::WriteProperties(PropertyBag& PropBag) const {
    PropBag.WriteProperty("URL", url_, PlaceholderUrl);
    PropBag.WriteProperty("CHUNK", chunk_, DefaultChunk);
    PropBag.WriteProperty("SaveLocation", saveLocation_, DefaultSaveLocation);
    PropBag.WriteProperty("KeepType", keepType_, false);
    PropBag.WriteProperty("OnlineCheck", onlineCheck_, false);
    PropBag.WriteProperty("PromptOverwrite", promptOverwrite_, false);
}

} // namespace krv::download
