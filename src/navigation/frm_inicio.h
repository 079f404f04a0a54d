#pragma once
// The login window: takes the update server's user name and password, optionally stores
// them, checks them with the server and runs the version check on itself.
#include "download/protocol.h"
#include "runs/run_session.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <optional>

namespace krv::navigation {

using runs::kNoSecureConnection;
using runs::readPortFile;

class frmInicio : public QWidget {
    Q_OBJECT
public:
    frmInicio();

    // Fills the boxes from the stored credentials and reads port.cfg into the session's Porta.
    void Form_Load();

    // Sends the login request; true when the answer is a well-formed XML document.
    bool VerUsuario();
    // Why the last login could not reach the server securely; empty when it could.
    QString tlsFailure;

    QLineEdit* txtUsuario;
    QLineEdit* txtSenha;
    QCheckBox* chkGravar;
    QPushButton* cmdContinua; // "&Continuar"
    QPushButton* cmdConfig;   // "&Config."
    // Carries the login, version-list and history requests; its RemotePort comes from Porta.
    // Continuar runs the session's login step, then the version check.
    protocol::Inet Inet1;

    void cmdContinua_Click();
    void cmdConfig_Click();
};

} // namespace krv::navigation
