#pragma once
// The QApplication of both programs: the one boundary no exception crosses. An error that
// escapes an event handler is shown as the runtime's standard report and ends the program.
#include <QApplication>
#include <exception>

namespace krv::platform {

class Application : public QApplication {
public:
    Application(int& argc, char** argv, const QString& name);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The standard report for an error nothing else reported: number and description in a
// critical message box titled with the application's name; then the program ends.
[[noreturn]] void reportUnexpected(const std::exception& error);
[[noreturn]] void reportUnexpected();

} // namespace krv::platform
