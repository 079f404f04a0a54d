#include "runs/limpa_temporarios.h"

#include "platform/program.h"
#include "runs/run_session.h"
#include "runs/window_observer.h"

namespace krv::runs {

void LimpaTemporarios(const std::function<void(const QString&)>& status) {
    WindowObserver observer;
    observer.showStatus = status;
    Observing observing(&observer);
    // The status goes to the window that set it; its name matters only unattended.
    session().finish(status ? QStringLiteral("-") : QString());
    platform::endProgram(0);
}

} // namespace krv::runs
