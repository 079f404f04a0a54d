#pragma once
// The Internet update run window: shows the session's fetch step (every file of the work list
// fetched from the update server, logged there, the archives unpacked into the suite's folder)
// and hands over to the database update, the menu reload or the run's end.
#include "runs/run_session.h"
#include "runs/window_observer.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <QWidget>

namespace krv::runs {

class frmProc : public QWidget {
    Q_OBJECT
public:
    frmProc();

    QListWidget* lstAux; // the work list as shown: the session's, filled by the version check
    QLineEdit* txtZip;   // hidden; kept for the archive adapter
    QLabel* lblStatus;

    // Shows the session's work list in lstAux.
    void showWorkList(const WorkList& work);

    // The run over the work list (the session's fetch step). Any error ends the program through the
    // fatal report; a file that did not download whole is neither logged nor applied. A download
    // the user stops ends the program with a message; nothing further is applied.
    void Processa();

protected:
    // While Processa works the window stays; during a download the user is asked whether
    // to stop the update.
    void closeEvent(QCloseEvent* event) override;

private:
    bool working_ = false;
    WindowObserver observer_;
};

} // namespace krv::runs
