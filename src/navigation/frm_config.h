#pragma once
// The connection settings window: the port of the update server, kept in port.cfg in the
// program folder and in Porta.
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace krv::navigation {

class frmConfig : public QWidget {
    Q_OBJECT
public:
    frmConfig();

    // Shows the first line of port.cfg, or "80" when there is none or it is blank.
    void Form_Load();

    QLineEdit* txtPorta;
    QPushButton* cmdOK;   // "&Gravar"
    QPushButton* cmdCanc; // "&Cancelar"

    void cmdOK_Click();
    void cmdCanc_Click();
};

// Writes port.cfg in folder: the text and CR LF, nothing else. False when it cannot be written.
bool writePortFile(const QString& folder, const QString& port);

// Shows the window (loading it when it is not open yet) with owner as its owner.
void openConnectionSettings(QWidget* owner);

} // namespace krv::navigation
