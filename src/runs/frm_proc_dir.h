#pragma once
// The directory update run window: shows the session's directory run, which unpacks each module's
// archive found in the source folder into the suite's folder, then hands a due database update over
// to the database update window, or ends with its own summary.
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace krv::platform {
class ActivationJob;
}

namespace krv::runs {

class frmProcDir : public QWidget {
    Q_OBJECT
public:
    frmProcDir();

    QLineEdit* txtZip; // hidden; kept for the archive adapter
    QLabel* lblStatus;

    // The run-once marker: empty until the run starts, then ".".
    QString tag() const;

    // The run (the session's applyFolder step, shown here). Ends the program (its summary, the
    // invalid update file, or the fatal report for an archive or file that cannot be used) unless
    // it hands over to the database update.
    void Processa();

private:
    platform::ActivationJob* job_;
};

} // namespace krv::runs
