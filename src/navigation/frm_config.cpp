#include "navigation/frm_config.h"

#include "navigation/frm_inicio.h"
#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "platform/window_support.h"
#include "runs/run_session.h"

#include <QLabel>
#include <QSaveFile>

namespace krv::navigation {

using namespace platform;

frmConfig::frmConfig() {
    setObjectName("frmConfig");
    setWindowTitle("Configuração de conexão");
    setFixedSize(300, 120);
    auto* label = new QLabel("Porta de conexão (Padrão: 80):", this);
    label->setGeometry(16, 16, 200, 24);
    txtPorta = new QLineEdit("80", this);
    txtPorta->setObjectName("txtPorta");
    txtPorta->setGeometry(216, 16, 68, 24);
    cmdOK = new QPushButton("&Gravar", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setGeometry(64, 70, 100, 32);
    cmdOK->setDefault(true);
    cmdCanc = new QPushButton("&Cancelar", this);
    cmdCanc->setObjectName("cmdCanc");
    cmdCanc->setGeometry(176, 70, 100, 32);
    connect(cmdOK, &QPushButton::clicked, this, &frmConfig::cmdOK_Click);
    connect(cmdCanc, &QPushButton::clicked, this, &frmConfig::cmdCanc_Click);
}

void frmConfig::Form_Load() {
    txtPorta->setText(readPortFile().value_or(QString()));
    if (txtPorta->text().trimmed().isEmpty())
        txtPorta->setText("80");
}

bool writePortFile(const QString& folder, const QString& port) {
    QSaveFile f(folder + "/port.cfg");
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(port.toUtf8() + "\r\n");
    return f.commit();
}

void frmConfig::cmdOK_Click() {
    const QString port = txtPorta->text();
    if (!writePortFile(programFolder(), port)) {
        msgBox("Não foi possível gravar o arquivo port.cfg na pasta do programa (" +
                   programFolder() + ").",
               Buttons::OK, Icon::Critical, "Aviso!");
        return;
    }
    runs::session().values.Porta = port;
    cmdCanc_Click();
}

void frmConfig::cmdCanc_Click() {
    unload(this);
}

void openConnectionSettings(QWidget* owner) {
    auto& w = form<frmConfig>();
    if (!w.isVisible()) {
        platform::setOwner(&w, owner);
        w.Form_Load();
    }
    w.show();
    w.raise();
    w.activateWindow();
}

} // namespace krv::navigation
