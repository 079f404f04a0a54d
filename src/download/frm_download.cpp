#include "download/frm_download.h"

#include "platform/dialogs.h"
#include "platform/window_support.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>

namespace krv::download {

namespace {

// Twips to pixels at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QRect place,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    // Plain text and a fixed place: a caption change then costs no layout work.
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(place);
    l->setAlignment(align);
    return l;
}

void setCaption(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

} // namespace

frmDownload::frmDownload(QWidget* parent) : QWidget(parent) {
    setObjectName("frmDownload");
    setFixedSize(px(4680), px(1620));

    Label1 = makeLabel(this, "Label1", "Baixando Atualizações...",
                       QRect(px(45), px(135), px(4560), px(240)), Qt::AlignCenter);
    QFont heading("MS Sans Serif");
    heading.setPointSizeF(9.75);
    heading.setBold(true);
    Label1->setFont(heading);

    pb1 = new QProgressBar(this);
    pb1->setObjectName("pb1");
    pb1->setGeometry(px(1065), px(495), px(2535), px(255));
    pb1->setRange(0, 100);
    pb1->setValue(0);
    pb1->setTextVisible(false);

    // Labels that size themselves to their text get a place wide enough for the longest one.
    lblp = makeLabel(this, "lblp", "0%", QRect(px(585) - 6, px(495), 38, px(195) + 4));
    lblt = makeLabel(this, "lblt", QString(), QRect(px(45), px(855), px(4560), px(195) + 4),
                     Qt::AlignCenter);
    lbltl = makeLabel(this, "lbltl", "Time Remaining - ",
                      QRect(px(1185), px(1095), px(4680) - px(1185) - 3, px(195) + 4));
    lbltr = makeLabel(this, "lbltr", "Transfer Rate - ",
                      QRect(px(1185), px(1335), px(4680) - px(1185) - 3, px(195) + 4));

    Dl1 = new DownLoad(this);
    Dl1->setObjectName("Dl1");
    Dl1->move(px(45), px(1035));

    connect(Dl1, &DownLoad::DLComplete, this, &frmDownload::Dl1_DLComplete);
    connect(Dl1, &DownLoad::DLError, this, [this](const QString& text) { lastError_ = text; });
    connect(Dl1, &DownLoad::DLECode, this, [this](std::int32_t code) { lastErrorCode_ = code; });
    connect(Dl1, &DownLoad::Percent, this, &frmDownload::Dl1_Percent);
    connect(Dl1, &DownLoad::Rate, this, &frmDownload::Dl1_Rate);
    connect(Dl1, &DownLoad::RecievedBytes, this, &frmDownload::Dl1_RecievedBytes);
    connect(Dl1, &DownLoad::TimeLeft, this, &frmDownload::Dl1_TimeLeft);
}

void frmDownload::showOwnedBy(QWidget* owner) {
    if (owner) {
        platform::setOwner(this, owner->window());
        const QRect o = owner->window()->frameGeometry();
        move(o.center() - QPoint(width() / 2, height() / 2));
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void frmDownload::askToStop() {
    if (asking_ || !running)
        return;
    asking_ = true;
    const platform::Answer answer = platform::msgBox(
        "Deseja interromper a atualização? O download em andamento será cancelado e nada mais "
        "será aplicado.",
        platform::Buttons::YesNo, platform::Icon::Question, "Aviso!");
    asking_ = false;
    // The transfer may have ended while the question was open.
    if (answer == platform::Answer::Yes && running)
        Dl1->Cancel();
}

void frmDownload::closeEvent(QCloseEvent* event) {
    if (!running) {
        QWidget::closeEvent(event);
        return;
    }
    // The caller closes the window when its download has ended.
    event->ignore();
    askToStop();
}

void frmDownload::Dl1_DLComplete() {
    completed_ = true;
    applyCaptions();
    Label1->setText("Download Completo!");
}

void frmDownload::Dl1_Percent(std::int32_t lPercent) {
    percent_ = lPercent;
    scheduleCaptions();
}

void frmDownload::Dl1_Rate(const QString& lpRate) {
    rate_ = lpRate;
    rateSeen_ = true;
    scheduleCaptions();
}

void frmDownload::Dl1_RecievedBytes(std::int32_t lnumBYTES) {
    received_ = lnumBYTES;
    receivedOf_ = Dl1->FileSize();
    scheduleCaptions();
}

void frmDownload::Dl1_TimeLeft(const QString& lpTime) {
    timeLeft_ = lpTime;
    timeSeen_ = true;
    scheduleCaptions();
}

// Events come once per chunk, far more often than a screen can show: the captions follow
// at the next pass of the event loop, when the window paints anyway.
void frmDownload::scheduleCaptions() {
    if (captionsQueued_)
        return;
    captionsQueued_ = true;
    QMetaObject::invokeMethod(this, &frmDownload::applyCaptions, Qt::QueuedConnection);
}

void frmDownload::applyCaptions() {
    captionsQueued_ = false;
    if (percent_ >= 0)
        setCaption(lblp, QString::number(percent_) + "%");
    if (received_ >= 0) {
        setCaption(lblt, "Recebidos " + QString::number(received_) + " de " +
                             QString::number(receivedOf_) + ".");
        if (pb1->value() != received_)
            pb1->setValue(received_);
    }
    if (timeSeen_)
        setCaption(lbltl, "Tempo restante - " + timeLeft_);
    if (rateSeen_)
        setCaption(lbltr, "Taxa de transferência - " + rate_);
}

} // namespace krv::download
