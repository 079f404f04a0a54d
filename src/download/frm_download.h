#pragma once
// The progress window of one download: heading, bar, percent, bytes received, time left and
// rate, in Portuguese, from the events of the download component Dl1 it hosts. No buttons.
//
// How a caller fetches one file (a fresh window per file):
//     auto& w = platform::form<frmDownload>();
//     w.Label1->setText("Baixando atualização...");
//     w.showOwnedBy(caller);
//     w.Dl1->setUrl(url);
//     w.Dl1->setSaveLocation(path);
//     w.Dl1->GetFileInformation();
//     w.pb1->setMaximum(w.Dl1->FileSize());
//     w.Dl1->Download();
//     bool whole = w.completed();          // DLComplete was raised
//     int code = w.lastErrorCode();        // last DLECode, 0 when none
//     platform::unload(&w);
#include "download/download_control.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include <cstdint>

namespace krv::download {

class frmDownload : public QWidget {
    Q_OBJECT
public:
    explicit frmDownload(QWidget* parent = nullptr);

    QLabel* Label1; // heading, set by the caller
    QProgressBar* pb1;
    QLabel* lblp;  // percent
    QLabel* lblt;  // bytes received
    QLabel* lbltl; // time left
    QLabel* lbltr; // transfer rate
    DownLoad* Dl1;

    // Shows the window, not modal, owned by owner and centred on it.
    void showOwnedBy(QWidget* owner);

    // What the events said of the last transfer (the window shows no error itself).
    bool completed() const { return completed_; }
    std::int32_t lastErrorCode() const { return lastErrorCode_; }
    QString lastError() const { return lastError_; }

    // Puts the captions the events asked for on the labels now. Captions are otherwise
    // applied at the next pass of the event loop, which is also when the window paints.
    void applyCaptions();

    // Set by the caller while it drives Dl1: closing the window then asks whether to stop
    // the update instead of closing it.
    bool running = false;
    // Asks whether to stop the update; Yes cancels the transfer under way.
    void askToStop();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Dl1_DLComplete();
    void Dl1_Percent(std::int32_t lPercent);
    void Dl1_Rate(const QString& lpRate);
    void Dl1_RecievedBytes(std::int32_t lnumBYTES);
    void Dl1_TimeLeft(const QString& lpTime);
    void scheduleCaptions();

    bool completed_ = false;
    std::int32_t lastErrorCode_ = 0;
    QString lastError_;

    // Captions the events asked for, applied together; -1 means none asked for yet.
    std::int32_t percent_ = -1;
    std::int32_t received_ = -1;
    std::int32_t receivedOf_ = 0;
    QString rate_, timeLeft_;
    bool rateSeen_ = false, timeSeen_ = false, captionsQueued_ = false;
    bool asking_ = false;
};

} // namespace krv::download
