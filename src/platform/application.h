#pragma once
// The QApplication of both programs: the one boundary no exception crosses. An error that
// escapes an event handler is shown as the runtime's standard report and ends the program.
#include <QApplication>
#include <exception>

namespace krv::platform {

namespace detail {
// Chosen before the QApplication reads it: the offscreen platform for a run nobody watches.
struct PlatformChoice {
    explicit PlatformChoice(bool offscreen);
    // Puts the caller's platform back in the environment.
    void restoreCallersPlatform() const;
    bool offscreen, hadPlatform;
    QByteArray callersPlatform;
};
} // namespace detail

class Application : private detail::PlatformChoice, public QApplication {
public:
    // offscreen: nobody looks at the windows (an unattended run). Programs started from here,
    // or that this process becomes, still get the caller's platform, where a person can answer
    // them.
    Application(int& argc, char** argv, const QString& name, bool offscreen = false);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The standard report for an error nothing else reported: number and description in a
// critical message box titled with the application's name; then the program ends.
[[noreturn]] void reportUnexpected(const std::exception& error);
[[noreturn]] void reportUnexpected();

} // namespace krv::platform
