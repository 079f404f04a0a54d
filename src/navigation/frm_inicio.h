#pragma once
// The login window: takes the update server's user name and password, optionally stores
// them, checks them with the server and runs the version check on itself.
#include "download/protocol.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <optional>

namespace krv::navigation {

// The start of the box shown when the login could not reach the server securely; the cause
// follows.
inline const QString kNoSecureConnection =
    "Não foi possível conectar com segurança ao servidor de atualização: ";

class frmInicio : public QWidget {
    Q_OBJECT
public:
    frmInicio();

    // Fills the boxes from the stored credentials and reads port.cfg into Porta.
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
    protocol::Inet Inet1;

    void cmdContinua_Click();
    void cmdConfig_Click();
};

// The first line of port.cfg in the program folder; nothing when it cannot be read.
std::optional<QString> readPortFile();

} // namespace krv::navigation
