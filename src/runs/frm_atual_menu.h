#pragma once
// The menu reload window: on its first activation it replaces the suite's menu table from
// the update folder's mnusis_cs.krv, records the menu version, and ends the run.
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace krv::platform {
class ActivationJob;
}

namespace krv::runs {

class frmAtualMenu : public QWidget {
    Q_OBJECT
public:
    frmAtualMenu();

    // The reload (the session's menu step, shown here): in one transaction empties `menu`,
    // refills it from the file and records VersaoMenu in licensa; then confirms and ends the run. A
    // failure rolls everything back and ends with the fatal report. Never returns.
    [[noreturn]] void Processa();

    // The activation handler: starts Processa unless it has started before.
    void Form_Activate();

    // "." once the reload has started.
    QString tag() const;

    QProgressBar* Percent;
    QLabel* Label2; // "100%"
    QLabel* Label1; // "0%"

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    platform::ActivationJob* job_;
};

} // namespace krv::runs
