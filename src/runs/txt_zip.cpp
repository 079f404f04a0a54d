#include "runs/txt_zip.h"

#include <QLineEdit>

namespace krv::runs {

QLineEdit* criaTxtZip(QWidget* parent) {
    auto* box = new QLineEdit(
        "Esta TextBox é usado internamente pelo AddZip, podendo fica escondida do usuário.",
        parent);
    box->setObjectName("txtZip");
    box->hide();
    return box;
}

} // namespace krv::runs
