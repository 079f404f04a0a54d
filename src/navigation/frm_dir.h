#pragma once
// The folder chooser: the user picks a folder that holds update files; it becomes the source
// of the directory run.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

namespace krv::navigation {

// The folder list: the folders from the root down to the open one, then its sub-folders
// (hidden ones left out). Activating an item opens that folder.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget* parent);
    // The open folder: absolute, no trailing separator except at the root.
    const QString& path() const { return path_; }
    // Opens folder; false (and nothing changes) when it is not a folder.
    bool setPath(const QString& folder);

signals:
    void pathChanged(const QString& path);

private:
    QString path_;
};

class frmDir : public QWidget {
    Q_OBJECT
public:
    frmDir();

    QComboBox* Drive1;  // the mounted file systems
    DirListBox* Dir1;   // the folders
    QLineEdit* txtDir;  // the open folder as text; typing a folder's path opens it
    QPushButton* cmdOK; // "&Confirma"

    // True when folder directly holds an ordinary, not hidden "*.zip" or "*.mdb" file, case
    // ignored (media are often prepared on systems that ignore it).
    static bool holdsUpdateFiles(const QString& folder);
    // The roots a user may start from: "/" and the mounted file systems under /media,
    // /mnt, /run/media and /home.
    static QStringList drives();

private:
    void Drive1_Change();
    void cmdOK_Click();
    void showDriveOf(const QString& path);
};

} // namespace krv::navigation
