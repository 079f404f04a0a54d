#include "platform/application.h"

#include "platform/dialogs.h"
#include "platform/krv_error.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "platform/windowed.h"

#include <csignal>

namespace krv::platform {

namespace detail {

PlatformChoice::PlatformChoice(bool offscreen)
    : offscreen(offscreen), hadPlatform(qEnvironmentVariableIsSet("QT_QPA_PLATFORM")),
      callersPlatform(qgetenv("QT_QPA_PLATFORM")) {
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void PlatformChoice::restoreCallersPlatform() const {
    if (!offscreen)
        return;
    if (hadPlatform)
        qputenv("QT_QPA_PLATFORM", callersPlatform);
    else
        qunsetenv("QT_QPA_PLATFORM");
}

} // namespace detail

Application::Application(int& argc, char** argv, const QString& name, bool offscreen)
    : detail::PlatformChoice(offscreen), QApplication(argc, argv) {
    restoreCallersPlatform();
    // A closed output pipe must end a write with an error, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    setApplicationName(name);
    setOrganizationName("KrvSis");
    // The last window closing ends the program, as with the original.
    setQuitOnLastWindowClosed(true);
    installWindowed();
    hook::install();
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const ProgramEnded&) {
        throw; // a test's replacement of the program end
    } catch (const std::exception& e) {
        reportUnexpected(e);
    } catch (...) {
        reportUnexpected();
    }
}

void reportUnexpected(const std::exception& error) {
    int number = 0;
    QString description = QString::fromLocal8Bit(error.what());
    if (auto* k = dynamic_cast<const KrvError*>(&error)) {
        number = k->number();
        description = k->description();
    }
    msgBox(QString("Erro em tempo de execução '%1':\r\n\r\n%2").arg(number).arg(description),
           Buttons::OK, Icon::Critical, QString());
    endProgram(1);
}

void reportUnexpected() {
    msgBox("Erro em tempo de execução '0':\r\n\r\nErro desconhecido", Buttons::OK, Icon::Critical,
           QString());
    endProgram(1);
}

} // namespace krv::platform
