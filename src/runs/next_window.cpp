#include "runs/next_window.h"

#include "platform/forms.h"
#include "platform/window_support.h"
#include "runs/frm_atual_krv.h"
#include "runs/frm_atual_menu.h"
#include "runs/run_session.h"

namespace krv::runs {

void showNext(StepResult next, QWidget* from) {
    switch (next) {
    case StepResult::UpdateDatabase: {
        auto& w = platform::form<frmAtualKRV>();
        platform::setOwner(&w, from);
        w.show();
        return;
    }
    case StepResult::ReloadMenu:
        platform::form<frmAtualMenu>().show();
        return;
    case StepResult::Finish:
        session().finish();
        return;
    default:
        return;
    }
}

} // namespace krv::runs
