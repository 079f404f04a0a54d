#pragma once
// The database update window: on its first activation it takes the snapshot of the live
// structure, compares it with the reference in the update folder's krv.mdb, alters the
// database, and hands over to the menu reload or the run end.
#include <QWidget>

namespace krv::database {

class frmAtualKRV : public QWidget {
    Q_OBJECT
public:
    frmAtualKRV();
};

} // namespace krv::database
