// Until the folder chooser exists, its button leads to an empty window of the same name.
#include "navigation/frm_sel.h"

#include <QLabel>
#include <QVBoxLayout>

namespace krv::navigation {

namespace {
void showPlaceholder(const QString& name, QWidget* owner) {
    auto* w = new QWidget(owner, owner ? Qt::Window : Qt::WindowFlags());
    w->setObjectName(name);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowTitle(name);
    auto* l = new QVBoxLayout(w);
    l->addWidget(new QLabel("Em construção.", w));
    w->resize(300, 120);
    w->show();
}
} // namespace

void openFolderChooser(QWidget* owner, const QString&) {
    showPlaceholder("frmDir", owner);
}

} // namespace krv::navigation
