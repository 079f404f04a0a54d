#include "navigation/frm_sel.h"

#include "build_info.h"
#include "common/run_mode.h"
#include "common/updatekrv.h"
#include "database/abre_server.h"
#include "navigation/command_line.h"
#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "platform/run_lock.h"
#include "platform/settings.h"
#include "runs/update_record.h"

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
    msgBox("Atenção!\r\nAntes de continuar com este processo, certifique-se de ter uma cópia de "
           "segurança (backup) dos arquivos do sistema.",
           Buttons::OK, Icon::Information, "Aviso!");
    updatekrv::DirSis = getSetting("DirSis", programFolder());
    updatekrv::DirSisExe = getSetting("DirSisExe", programFolder());
    if (database::AbreServer() == 1) {
        msgBox("Não foi possível estabelecer conexão com o servidor!", Buttons::OK, Icon::Critical,
               "Aviso!");
        endProgram(0);
    }
    // Taken before anything changes (the connection's repair of Config.BD before it is
    // atomic and gives the same file each time); held until the process ends.
    if (takeRunLock(updatekrv::DirSis) == RunLock::Busy) {
        msgBox(anotherRunText(updatekrv::DirSis), Buttons::OK, Icon::Exclamation, "Aviso!");
        endProgram(runmode::unattended ? exitcode::anotherRun : 0);
    }
    updatekrv::Atualizou = false;
    runs::record::begin();
}

QString frmSel::anotherRunText(const QString& folder) {
    return "Outra atualização do sistema em " + folder +
           " já está em andamento. Aguarde o término dela e tente novamente.";
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
