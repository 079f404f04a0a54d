#pragma once
// The menu reload window: on its first activation it replaces the suite's menu table from
// the update folder's mnusis_cs.krv, records the menu version, and ends the run.
#include <QWidget>

namespace krv::database {

class frmAtualMenu : public QWidget {
    Q_OBJECT
public:
    frmAtualMenu();
};

} // namespace krv::database
