#pragma once
// The history window: the changes the pending updates bring, the terms the user must accept
// before the update run may start, printing of the history, and cancel.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QWidget>
#include <memory>

class QTextDocument;

namespace krv::navigation {

class frmHist : public QWidget {
    Q_OBJECT
public:
    frmHist();

    QTextEdit* RText; // the history, appended to by the version check
    QLabel* lblTermos;
    QRadioButton* optTermos[2]; // 1 "Aceito os termos!", 0 "Não aceito os termos!"
    QPushButton* SSCommand1;    // "&Efetuar Atualização", enabled once the terms are accepted
    QPushButton* cmdImpr;       // "&Imprimir"
    QPushButton* cmdCanc;       // "&Cancelar"

    void optTermos_Click(int index);
    void cmdImpr_Click();
    [[noreturn]] void cmdCanc_Click();
    void SSCommand1_Click();

    static const QString Terms;

protected:
    // Closing by the frame is a cancel, unless the run has started.
    void closeEvent(QCloseEvent* event) override;

private:
    bool running_ = false;
};

// The terms are not accepted: the session's run ends, and with it the program.
[[noreturn]] void refuseTerms();

// What printing the history box prints: the selected part of its text, or all of it.
std::unique_ptr<QTextDocument> printableHistory(const QTextEdit& box);

// Prints the history box on the default printer; false, after telling the user, when there is
// no printer to print on or printing failed.
bool printHistory(const QTextEdit& box);

} // namespace krv::navigation
