#pragma once
// The database update window: on its first activation it shows the session's database
// update step: it takes the snapshot of the live
// structure, compares it with the reference in the update folder's krv.mdb, alters the
// database, and hands over to the menu reload or the run end.
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QWidget>

namespace krv::platform {
class ActivationJob;
}

namespace krv::runs {

class frmAtualKRV : public QWidget {
    Q_OBJECT
public:
    frmAtualKRV();

    QLabel* Status;
    QProgressBar* Gauge;
    QLabel* lblLer;
    QListWidget* Lista;
    QFrame* Line1;

    // The run-once marker: empty until the comparison starts, then ".".
    QString tag() const;
    // The activation handler: starts the run unless it has started before.
    void Form_Activate();

    // Puts text into the status line and yields.
    void St(const QString& text);
    // The whole run (the session's database update step, shown here): snapshot, comparison,
    // bookkeeping, hand-over. Does not return normally: it ends in the menu reload window or
    // the run end.
    void Atualiza();

    // Window heights, in twips, of the loaded and of the enlarged window.
    static constexpr int kLoadedHeight = 2310;
    static constexpr int kFullHeight = 4695;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setHeightTwips(int twips);
    void addLine(const QString& text);

    platform::ActivationJob* job_;
    bool running_ = false;
};

} // namespace krv::runs
