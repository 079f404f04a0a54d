#include "download/download_control.h"

#include <QPainter>
#include <QPolygon>

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

DownLoad::DownLoad(QWidget* parent) : QWidget(parent) {
    // 480 x 480 twips, whatever the host asks.
    setFixedSize(32, 32);
    InitProperties();
}

DownLoad::~DownLoad() = default;

void DownLoad::setROLLBACK(std::int32_t lnumBYTES) {
    rollback_ = lnumBYTES;
    emit PropertyChanged("ROLLBACK");
}

void DownLoad::setPromptOverwrite(bool DoPrompt) {
    promptOverwrite_ = DoPrompt;
    emit PropertyChanged("PromptOverwrite");
}

void DownLoad::setOnlineCheck(bool DoCheck) {
    onlineCheck_ = DoCheck;
    emit PropertyChanged("OnlineCheck");
}

void DownLoad::setKeepType(bool IsKeep) {
    keepType_ = IsKeep;
    emit PropertyChanged("KeepType");
}

void DownLoad::setUrl(const QString& New_Url) {
    url_ = New_Url;
    emit PropertyChanged("Url");
}

void DownLoad::setCHUNK(std::int32_t New_CHUNK) {
    chunk_ = New_CHUNK;
    emit PropertyChanged("CHUNK");
}

void DownLoad::setSaveLocation(const QString& New_Location) {
    saveLocation_ = New_Location;
    emit PropertyChanged("SaveLocation");
}

QString DownLoad::GFN(const QString&) const {
    return {};
}

void DownLoad::InitProperties() {
    url_ = PlaceholderUrl;
    chunk_ = DefaultChunk;
    saveLocation_ = DefaultSaveLocation;
    keepType_ = false;
    onlineCheck_ = false;
    promptOverwrite_ = false;
}

void DownLoad::ReadProperties(const PropertyBag& PropBag) {
    url_ = PropBag.ReadProperty("URL", PlaceholderUrl).toString();
    chunk_ = PropBag.ReadProperty("CHUNK", DefaultChunk).toInt();
    saveLocation_ = PropBag.ReadProperty("SaveLocation", DefaultSaveLocation).toString();
    keepType_ = PropBag.ReadProperty("KeepType", false).toBool();
    onlineCheck_ = PropBag.ReadProperty("OnlineCheck", false).toBool();
    promptOverwrite_ = PropBag.ReadProperty("PromptOverwrite", false).toBool();
}

void DownLoad::WriteProperties(PropertyBag& PropBag) const {
    PropBag.WriteProperty("URL", url_, PlaceholderUrl);
    PropBag.WriteProperty("CHUNK", chunk_, DefaultChunk);
    PropBag.WriteProperty("SaveLocation", saveLocation_, DefaultSaveLocation);
    PropBag.WriteProperty("KeepType", keepType_, false);
    PropBag.WriteProperty("OnlineCheck", onlineCheck_, false);
    PropBag.WriteProperty("PromptOverwrite", promptOverwrite_, false);
}

void DownLoad::paintEvent(QPaintEvent*) {
    // The face: a globe with a downward arrow into a tray.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(192, 192, 192));
    p.setPen(QPen(QColor(0, 0, 128), 1));
    p.setBrush(QColor(64, 128, 255));
    p.drawEllipse(QRectF(6, 2, 20, 20));
    p.setBrush(QColor(0, 160, 0));
    p.drawPolygon(QPolygon({{13, 8}, {19, 8}, {19, 16}, {23, 16}, {16, 24}, {9, 16}, {13, 16}}));
    p.setPen(QPen(Qt::black, 2));
    p.drawPolyline(QPolygon({{4, 22}, {4, 29}, {28, 29}, {28, 22}}));
}

} // namespace krv::download
