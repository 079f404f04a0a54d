// Zelvor: the update assistant. The program starts by loading its start window.
#include "common/run_mode.h"
#include "navigation/command_line.h"
#include "navigation/frm_sel.h"
#include "navigation/plan_command.h"
#include "navigation/rollback_command.h"
#include "navigation/unattended.h"
#include "platform/application.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "runs/run_session.h"
#include "scripting/script_runner.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {

void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char** argv) {
    using namespace krv::navigation;
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLine options = parseCommandLine(args);
    if (!options.error.isEmpty()) {
        print(stderr, options.error + "\nUse zelvor --help para ver as opções.\n");
        return exitcode::failed;
    }
    if (options.help) {
        print(stdout, helpText());
        return 0;
    }
    if (options.version) {
        print(stdout, versionText());
        return 0;
    }
    if (!options.plan.isEmpty()) {
        // No window: the plan only reads the settings and the database.
        int qtArgc = 1;
        QCoreApplication app(qtArgc, argv);
        app.setApplicationName("zelvor");
        app.setOrganizationName("KrvSis");
        const int status = runPlanCommand(options.plan);
        // Ended as the assistant ends: the connection's statics never outlive the application.
        std::fflush(nullptr);
        ::_exit(status);
    }
    if (options.listUpdates || options.releaseHold) {
        int qtArgc = 1;
        QCoreApplication app(qtArgc, argv);
        app.setApplicationName("zelvor");
        app.setOrganizationName("KrvSis");
        const int status =
            options.listUpdates ? runListUpdatesCommand() : runReleaseHoldCommand(options.holdName);
        std::fflush(nullptr);
        ::_exit(status);
    }
    krv::runs::session().now = options.now;
    krv::runmode::arguments = args;

    // The test hook's script side, handed over before the application starts the hook.
    krv::scripting::install();
    int qtArgc = 1; // the options are ours, not Qt's
    krv::platform::Application app(qtArgc, argv, "zelvor", options.unattended);
    if (options.rollback)
        krv::platform::endProgram(runRollbackCommand(options.rollbackRecord, options.unattended));
    // Unattended: the run session alone, no window.
    if (options.unattended)
        runUnattended(options);
    try {
        auto& start = krv::platform::form<frmSel>();
        start.Form_Load();
        start.show();
        start.activateWindow();
    } catch (const std::exception& e) {
        krv::platform::reportUnexpected(e);
    }
    krv::platform::endProgram(app.exec());
}
