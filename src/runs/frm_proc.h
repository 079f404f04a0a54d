#pragma once
// The Internet update run window: fetches every file of the work list from the update server,
// logs it there, unpacks the archives into the suite's folder and hands over to the database
// update, the menu reload or the run's end.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <QWidget>

namespace krv::runs {

// What a work-list entry is, by the last three characters of its name in lower case.
enum class EntryKind { Archive, Database, Menu, Other };
EntryKind entryKind(const QString& entry);

class frmProc : public QWidget {
    Q_OBJECT
public:
    frmProc();

    QListWidget* lstAux; // the work list, filled by the version check
    QLineEdit* txtZip;   // hidden; kept for the archive adapter
    QLabel* lblStatus;

    // The run over the work list. Any error ends the program through the fatal report; a
    // file that did not download whole is neither logged nor applied. A download the user
    // stops ends the program with a message; nothing further is applied.
    void Processa();

protected:
    // While Processa works the window stays; during a download the user is asked whether
    // to stop the update.
    void closeEvent(QCloseEvent* event) override;

private:
    bool working_ = false;
};

} // namespace krv::runs
