#pragma once
// The windows' observer of the run session: a message is a message box, exactly as the windows
// always showed it; the end of the run ends the program (a failure through the fatal error
// report or the runtime's report, as before); status texts, progress and list lines go to the
// window that set the matching function.
#include "runs/run_outcome.h"

#include <functional>

namespace krv::runs {

class WindowObserver : public SessionObserver {
public:
    std::function<void(const QString& text)> showStatus;
    std::function<void(const Progress& progress)> showProgress;
    std::function<void(const QString& text)> showLine;

    void status(const QString& window, const QString& text) override;
    platform::Answer message(const Message& message) override;
    void progress(const Progress& progress) override;
    void line(const QString& text) override;
    [[noreturn]] void ended(const RunEnd& end) override;
    // A person is there: the window stays for another try.
    void waitsForPerson(const RunEnd&) override {}
};

// Makes observer the session's observer while it lives, and the previous one again after.
class Observing {
public:
    explicit Observing(SessionObserver* observer);
    ~Observing();
    Observing(const Observing&) = delete;
    Observing& operator=(const Observing&) = delete;

private:
    SessionObserver* previous_;
};

} // namespace krv::runs
