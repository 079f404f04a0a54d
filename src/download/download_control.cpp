#include "download/download_control.h"

#include <QPainter>
#include <QPolygon>

namespace krv::download {

DownLoad::DownLoad(QWidget* parent) : QWidget(parent) {
    // 480 x 480 twips, whatever the host asks.
    setFixedSize(32, 32);
    // Signal to signal: each event reaches the host's handler while the engine waits.
    connect(&engine_, &DownloadEngine::DLComplete, this, &DownLoad::DLComplete);
    connect(&engine_, &DownloadEngine::DLError, this, &DownLoad::DLError);
    connect(&engine_, &DownloadEngine::DLECode, this, &DownLoad::DLECode);
    connect(&engine_, &DownloadEngine::RecievedBytes, this, &DownLoad::RecievedBytes);
    connect(&engine_, &DownloadEngine::Percent, this, &DownLoad::Percent);
    connect(&engine_, &DownloadEngine::StatusChange, this, &DownLoad::StatusChange);
    connect(&engine_, &DownloadEngine::Rate, this, &DownLoad::Rate);
    connect(&engine_, &DownloadEngine::TimeLeft, this, &DownLoad::TimeLeft);
    connect(&engine_, &DownloadEngine::ConnectionState, this, &DownLoad::ConnectionState);
    connect(&engine_, &DownloadEngine::PropertyChanged, this, &DownLoad::PropertyChanged);
}

DownLoad::~DownLoad() = default;

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
