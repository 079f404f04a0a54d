#include "navigation/frm_dir.h"

#include "navigation/frm_sel.h"
#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/window_support.h"
#include "runs/archive_names.h"
#include "runs/dir_run.h"
#include "runs/frm_proc_dir.h"
#include "runs/run_session.h"
#include "runs/window_observer.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>
#include <QStyle>
#include <QVBoxLayout>

namespace krv::navigation {

using namespace platform;

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { setPath(item->data(Qt::UserRole).toString()); });
}

bool DirListBox::setPath(const QString& folder) {
    const QFileInfo fi(folder);
    if (folder.isEmpty() || !fi.isDir())
        return false;
    path_ = QDir::cleanPath(fi.absoluteFilePath());
    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList chain;
    for (QDir d(path_);;) {
        chain.prepend(d.absolutePath());
        if (!d.cdUp())
            break;
    }
    for (const QString& p : chain) {
        auto* item = new QListWidgetItem(open, p == "/" ? p : QFileInfo(p).fileName(), this);
        item->setData(Qt::UserRole, p);
    }
    setCurrentRow(count() - 1);
    // A folder that cannot be read simply shows no sub-folders.
    const QStringList subs =
        QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& s : subs) {
        auto* item = new QListWidgetItem(closed, s, this);
        item->setData(Qt::UserRole, path_ == "/" ? "/" + s : path_ + "/" + s);
    }
    emit pathChanged(path_);
    return true;
}

frmDir::frmDir() {
    setObjectName("frmDir");
    setWindowTitle("Seleção de diretório");
    setAttribute(Qt::WA_DeleteOnClose); // closing by the frame unloads the chooser
    resize(360, 330);
    Drive1 = new QComboBox(this);
    Drive1->setObjectName("Drive1");
    Drive1->addItems(drives());
    Dir1 = new DirListBox(this);
    Dir1->setObjectName("Dir1");
    txtDir = new QLineEdit(this);
    txtDir->setObjectName("txtDir");
    cmdOK = new QPushButton("&Confirma", this);
    cmdOK->setObjectName("cmdOK");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Drive1);
    layout->addWidget(Dir1, 1);
    layout->addWidget(txtDir);
    layout->addWidget(cmdOK, 0, Qt::AlignRight);

    connect(Drive1, &QComboBox::activated, this, [this] { Drive1_Change(); });
    connect(Dir1, &DirListBox::pathChanged, this, [this](const QString& p) {
        if (QDir::cleanPath(txtDir->text()) != p)
            txtDir->setText(p);
        showDriveOf(p);
    });
    connect(txtDir, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (QFileInfo(t).isDir())
            Dir1->setPath(t);
    });
    connect(cmdOK, &QPushButton::clicked, this, &frmDir::cmdOK_Click);

    // Form_Load
    runs::session().values.DirOrigem.clear();
}

QStringList frmDir::drives() {
    QStringList roots{"/"};
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        const QString r = v.rootPath();
        for (const char* base : {"/media/", "/mnt/", "/run/media/", "/home"})
            if (r.startsWith(base) && !roots.contains(r))
                roots << r;
    }
    std::sort(roots.begin() + 1, roots.end());
    return roots;
}

void frmDir::showDriveOf(const QString& path) {
    int best = -1;
    for (int i = 0; i < Drive1->count(); ++i) {
        const QString r = Drive1->itemText(i);
        const bool under = path == r || path.startsWith(r.endsWith('/') ? r : r + '/');
        if (under && (best < 0 || r.size() > Drive1->itemText(best).size()))
            best = i;
    }
    Drive1->setCurrentIndex(best);
}

void frmDir::Drive1_Change() {
    const QString drive = Drive1->currentText();
    // A drive that is not ready must not stop the program: say so and stay where we were.
    if (!QDir(drive).isReadable() || !Dir1->setPath(drive)) {
        msgBox("A unidade " + drive + " não está disponível.", Buttons::OK, Icon::Exclamation,
               "Aviso!");
        showDriveOf(Dir1->path());
    }
}

bool frmDir::holdsUpdateFiles(const QString& folder) {
    return runs::holdsUpdateFiles(folder);
}

void frmDir::cmdOK_Click() {
    runs::WindowObserver observer;
    runs::Observing observing(&observer);
    if (runs::session().chooseFolder(Dir1->path()) != runs::StepResult::ApplyFolder)
        return;
    QWidget* owner = parentWidget();
    // The run window must outlive the chooser and the start window.
    unload(this);
    unload(owner);
    form<runs::frmProcDir>().show();
}

void openFolderChooser(QWidget* owner, const QString& folder) {
    frmDir& w = form<frmDir>();
    if (owner && w.parentWidget() != owner)
        setOwner(&w, owner);
    w.Dir1->setPath(folder);
    w.show();
    w.raise();
    w.activateWindow();
}

} // namespace krv::navigation
