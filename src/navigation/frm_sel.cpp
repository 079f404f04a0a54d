#include "navigation/frm_sel.h"

#include "build_info.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "runs/run_session.h"
#include "runs/window_observer.h"

#include <QLinearGradient>
#include <QPainter>

namespace krv::navigation {

using namespace platform;

frmSel::frmSel() {
    setObjectName("frmSel");
    setWindowTitle("Assistente de atualização Norvale");
    setFixedSize(420, 240);
    SSCommand1 = new QPushButton("Internet", this);
    SSCommand1->setObjectName("SSCommand1");
    SSCommand1->setGeometry(60, 170, 130, 40);
    SSCommand2 = new QPushButton("Diretório", this);
    SSCommand2->setObjectName("SSCommand2");
    SSCommand2->setGeometry(230, 170, 130, 40);
    connect(SSCommand1, &QPushButton::clicked, this, &frmSel::SSCommand1_Click);
    connect(SSCommand2, &QPushButton::clicked, this, &frmSel::SSCommand2_Click);
}

QString frmSel::versionedTitle(int major, int minor, int revision) {
    return QString("Assistente de atualização Norvale  - V%1.%2.%3")
        .arg(major)
        .arg(minor)
        .arg(revision);
}

void frmSel::Form_Load() {
    setWindowTitle(versionedTitle(build::major, build::minor, build::revision));
    // The session's start: the backup warning, the suite's folders and database, the run lock
    // and the update record; a start that fails ends the program through the observer.
    runs::WindowObserver observer;
    runs::Observing observing(&observer);
    runs::session().start();
}

QString frmSel::anotherRunText(const QString& folder) {
    return runs::anotherRunText(folder);
}

void frmSel::SSCommand1_Click() {
    openLoginWindow();
    unload(this);
}

void frmSel::SSCommand2_Click() {
    openFolderChooser(this, programFolder());
}

void frmSel::paintEvent(QPaintEvent*) {
    // The decorative background: a plain gradient with the suite's name.
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(24, 64, 120));
    g.setColorAt(1, QColor(150, 190, 230));
    p.fillRect(rect(), g);
    p.setPen(Qt::white);
    QFont f = font();
    f.setPointSize(20);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 30, width(), 60), Qt::AlignCenter, "KRV");
    f.setPointSize(11);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRect(0, 90, width(), 40), Qt::AlignCenter, "Atualização do sistema");
}

} // namespace krv::navigation
