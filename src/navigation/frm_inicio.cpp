#include "navigation/frm_inicio.h"

#include "navigation/frm_config.h"
#include "navigation/frm_sel.h"
#include "navigation/modulos.h"
#include "platform/forms.h"
#include "platform/settings.h"
#include "runs/window_observer.h"

#include <QLabel>

namespace krv::navigation {

using namespace platform;

frmInicio::frmInicio() {
    setObjectName("frmInicio");
    setWindowTitle("Assistente de atualização Norvale");
    setFixedSize(360, 190);
    auto* lblUsuario = new QLabel("Usuário:", this);
    lblUsuario->setGeometry(20, 24, 80, 24);
    txtUsuario = new QLineEdit(this);
    txtUsuario->setObjectName("txtUsuario");
    txtUsuario->setGeometry(100, 24, 230, 24);
    auto* lblSenha = new QLabel("Senha:", this);
    lblSenha->setGeometry(20, 60, 80, 24);
    txtSenha = new QLineEdit(this);
    txtSenha->setObjectName("txtSenha");
    txtSenha->setEchoMode(QLineEdit::Password);
    txtSenha->setStyleSheet("lineedit-password-character: 42"); // asterisks
    txtSenha->setGeometry(100, 60, 230, 24);
    chkGravar = new QCheckBox("Gravar", this);
    chkGravar->setObjectName("chkGravar");
    chkGravar->setGeometry(100, 94, 120, 24);
    cmdContinua = new QPushButton("&Continuar", this);
    cmdContinua->setObjectName("cmdContinua");
    cmdContinua->setGeometry(100, 136, 110, 32);
    cmdContinua->setDefault(true);
    cmdConfig = new QPushButton("&Config.", this);
    cmdConfig->setObjectName("cmdConfig");
    cmdConfig->setGeometry(220, 136, 110, 32);
    connect(cmdContinua, &QPushButton::clicked, this, &frmInicio::cmdContinua_Click);
    connect(cmdConfig, &QPushButton::clicked, this, &frmInicio::cmdConfig_Click);
}

void frmInicio::Form_Load() {
    txtUsuario->setText(getSetting("atuser"));
    txtSenha->setText(getSetting("atpwd"));
    chkGravar->setChecked(!txtUsuario->text().isEmpty());
    runs::session().readPort();
}

bool frmInicio::VerUsuario() {
    return runs::requestLogin(Inet1, txtUsuario->text(), txtSenha->text(), tlsFailure);
}

void frmInicio::cmdContinua_Click() {
    runs::WindowObserver observer;
    runs::Observing observing(&observer);
    // No second login and no edits while the server is asked; the window still repaints.
    setEnabled(false);
    const bool ok = runs::session().logIn(Inet1, txtUsuario->text(), txtSenha->text(),
                                          chkGravar->isChecked()) == runs::StepResult::Check;
    setEnabled(true);
    tlsFailure = runs::session().tlsFailure;
    if (ok)
        Modulos(*this);
}

void frmInicio::cmdConfig_Click() {
    openConnectionSettings(this);
}

void openLoginWindow() {
    auto& w = form<frmInicio>();
    w.Form_Load();
    w.show();
}

} // namespace krv::navigation
