#include "navigation/frm_inicio.h"

#include "common/text.h"
#include "common/updatekrv.h"
#include "navigation/frm_config.h"
#include "navigation/frm_sel.h"
#include "navigation/modulos.h"
#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "platform/settings.h"
#include "runs/run_outcome.h"

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

std::optional<QString> readPortFile() {
    const auto lines = text::readTextLines(programFolder() + "/port.cfg");
    if (!lines || lines->isEmpty())
        return std::nullopt;
    return lines->first();
}

void frmInicio::Form_Load() {
    txtUsuario->setText(getSetting("atuser"));
    txtSenha->setText(getSetting("atpwd"));
    chkGravar->setChecked(!txtUsuario->text().isEmpty());
    if (const auto port = readPortFile())
        updatekrv::Porta = *port;
}

bool frmInicio::VerUsuario() {
    const protocol::ServerAnswer answer =
        Inet1.Request(protocol::loginUrl(txtUsuario->text(), txtSenha->text()));
    tlsFailure = answer.tlsFailure ? answer.failure : QString();
    return protocol::isWellFormed(answer.body);
}

namespace {

// Porta as a port number; 0 when it is not a whole number from 1 to 65535.
int portNumber(const QString& porta) {
    bool ok = false;
    const int n = porta.trimmed().toInt(&ok);
    return ok && n >= 1 && n <= 65535 ? n : 0;
}

} // namespace

void frmInicio::cmdContinua_Click() {
    const QString porta = updatekrv::Porta;
    if (!porta.isEmpty()) {
        const int port = portNumber(porta);
        if (port == 0) {
            msgBox("A porta de conexão configurada (" + porta +
                       ") não é válida. Informe um número de 1 a 65535 em \"Config.\".",
                   Buttons::OK, Icon::Exclamation, "Aviso!");
            runs::reportWaiting(runs::Outcome::Failed);
            return;
        }
        Inet1.RemotePort = port;
    }
    // No second login and no edits while the server is asked; the window still repaints.
    setEnabled(false);
    const bool ok = VerUsuario();
    setEnabled(true);
    if (!ok && !tlsFailure.isEmpty()) {
        // Not the user's name or password: checking them again cannot help.
        msgBox(kNoSecureConnection + tlsFailure + ".", Buttons::OK, Icon::Critical, "Aviso!");
        runs::reportWaiting(runs::Outcome::Failed);
        return;
    }
    if (!ok) {
        msgBox("Ocorreu um erro ao consultar o servidor, verifique se o usuário e a senha estão "
               "corretos e tente novamente!",
               Buttons::OK, Icon::Critical, "Aviso!");
        runs::reportWaiting(runs::Outcome::LoginRefused);
        return;
    }
    if (chkGravar->isChecked()) {
        saveSetting("atuser", txtUsuario->text());
        saveSetting("atpwd", txtSenha->text());
    }
    updatekrv::UsuarioAtual = txtUsuario->text();
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
