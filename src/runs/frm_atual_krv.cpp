#include "runs/frm_atual_krv.h"

#include "platform/application.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "platform/window_support.h"
#include "runs/next_window.h"
#include "runs/run_session.h"
#include "runs/window_observer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScopedValueRollback>
#include <QScreen>

namespace krv::runs {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) {
    return twips / kTwipsPerPixel;
}
// Title bar and frame of the original window: 4695 outside for 4245 inside.
constexpr int kFrameTwips = 450;

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

frmAtualKRV::frmAtualKRV() {
    setObjectName("frmAtualKRV");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    // Created in reverse of the declared order: the progress bar and its label lie over
    // the list and must stay on top of it.
    Lista = new QListWidget(this);
    Lista->setObjectName("Lista");
    Lista->setGeometry(twipsRect(0, 0, 5100, 3765));
    QFont verdana("Verdana");
    verdana.setPointSizeF(8.25);
    Lista->setFont(verdana);
    Lista->setStyleSheet("QListWidget { color: #00c000; background-color: #000000; }");

    Status = new QLabel(this);
    Status->setObjectName("Status");
    Status->setGeometry(twipsRect(0, 3780, 5130, 465));
    Status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QFont sansSerif("MS Sans Serif");
    sansSerif.setPointSizeF(8.25);
    Status->setFont(sansSerif);

    Gauge = new QProgressBar(this);
    Gauge->setObjectName("Gauge");
    Gauge->setGeometry(twipsRect(90, 225, 4965, 195));
    Gauge->setTextVisible(false);
    Gauge->hide();

    lblLer = new QLabel(this);
    lblLer->setObjectName("lblLer");
    // Wide enough for the longest caption, so the label never resizes while it counts.
    lblLer->setGeometry(twipsRect(135, 45, 4900, 195));
    lblLer->hide();

    Line1 = new QFrame(this);
    Line1->setObjectName("Line1");
    Line1->setFrameShape(QFrame::HLine);
    Line1->setGeometry(0, 0, px(5130), 1);

    // Load: small height, title, empty tag (held by the activation job).
    setFixedWidth(px(5130));
    setHeightTwips(kLoadedHeight);
    setWindowTitle("Atualização de Banco de Dados Norvale");
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }

    job_ = new platform::ActivationJob(this, [this] {
        try {
            Atualiza();
        } catch (const platform::ProgramEnded&) {
            running_ = false;
            throw;
        } catch (const std::exception& e) {
            running_ = false;
            platform::reportUnexpected(e);
        }
    });
}

QString frmAtualKRV::tag() const {
    return job_->tag();
}

void frmAtualKRV::Form_Activate() {
    job_->run();
}

void frmAtualKRV::setHeightTwips(int twips) {
    setFixedHeight(px(twips - kFrameTwips));
}

void frmAtualKRV::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const int frameHeight = frameGeometry().height();
        move(x(), screen->geometry().height() / 2 - frameHeight / 2);
    }
    platform::yield();
}

void frmAtualKRV::closeEvent(QCloseEvent* event) {
    // No cancel: closing in the middle would leave the structure half altered unseen.
    if (running_) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void frmAtualKRV::St(const QString& text) {
    platform::St(Status, text);
}

void frmAtualKRV::addLine(const QString& text) {
    Lista->addItem(text);
    Lista->scrollToItem(Lista->item(Lista->count() - 1), QAbstractItemView::PositionAtTop);
    platform::yield();
}

void frmAtualKRV::Atualiza() {
    // Cleared however the run is left, as the processing window's flag.
    const QScopedValueRollback running(running_, true);
    WindowObserver observer;
    observer.showStatus = [this](const QString& text) { St(text); };
    observer.showLine = [this](const QString& text) { addLine(text); };
    observer.showProgress = [this](const Progress& p) {
        switch (p.phase) {
        case Progress::Phase::Start:
            Gauge->setRange(0, p.maximum);
            Gauge->setValue(0);
            Gauge->show();
            lblLer->setText(p.label);
            lblLer->show();
            break;
        case Progress::Phase::Step:
            Gauge->setValue(p.value);
            lblLer->setText(p.label);
            platform::yield();
            break;
        case Progress::Phase::Finish:
            lblLer->hide();
            Gauge->hide();
            break;
        case Progress::Phase::Listing:
            Lista->clear();
            setHeightTwips(kFullHeight);
            platform::yield();
            break;
        }
    };
    Observing observing(&observer);
    RunSession& run = session();
    const StepResult next = run.updateDatabase();
    running_ = false;
    showNext(next, this);
}

} // namespace krv::runs
