#include "runs/window_observer.h"

#include "common/erro_fatal.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "runs/run_end.h"
#include "runs/run_session.h"

namespace krv::runs {

void WindowObserver::status(const QString& window, const QString& text) {
    if (showStatus)
        showStatus(text);
    else // no status line to show it in: still in the transcript of a scripted run
        platform::hook::status(window, text);
}

platform::Answer WindowObserver::message(const Message& m) {
    return platform::msgBox(m.text, m.buttons, m.icon, m.title, m.defaultAnswer);
}

void WindowObserver::progress(const Progress& p) {
    if (showProgress)
        showProgress(p);
}

void WindowObserver::line(const QString& text) {
    if (showLine)
        showLine(text);
}

void WindowObserver::ended(const RunEnd& end) {
    if (const std::optional<Message> report = reportBox(end)) {
        message(*report);
        if (end.report == RunEnd::Report::Fatal)
            OpenFile::closeAll();
    }
    platform::endProgram(end.programCode);
}

Observing::Observing(SessionObserver* observer) : previous_(session().observer()) {
    session().observe(observer);
}

Observing::~Observing() {
    session().observe(previous_);
}

} // namespace krv::runs
