#pragma once
// The start window: warns about backups, reads the folder settings, opens the suite's
// database, and offers the two sources of an update.
#include <QPushButton>
#include <QWidget>

namespace krv::navigation {

class frmSel : public QWidget {
    Q_OBJECT
public:
    frmSel();

    // The start sequence; ends the program when the database cannot be reached.
    void Form_Load();

    QPushButton* SSCommand1; // "Internet"
    QPushButton* SSCommand2; // "Diretório"

    // "Assistente de atualização Norvale  - V<major>.<minor>.<revision>"
    static QString versionedTitle(int major, int minor, int revision);
    // What a second assistant on the same suite says before it ends.
    static QString anotherRunText(const QString& folder);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void SSCommand1_Click();
    void SSCommand2_Click();
};

// Hand-overs to the windows of the two sources.
void openLoginWindow();
void openFolderChooser(QWidget* owner, const QString& folder);

} // namespace krv::navigation
