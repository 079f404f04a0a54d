// Movrin: replaces Zelvor's executable with a newer one and starts it again.
#include "platform/application.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "platform/unattended_output.h"
#include "relauncher/form1.h"
#include "scripting/script_runner.h"

#include <QRegularExpression>

namespace {

// The time between attempts. A test hook installed from its variables (before an unattended
// run makes the hook drive below) may shorten it, so tests need not wait 4 s a tick.
std::chrono::milliseconds tick() {
    const int ms = qEnvironmentVariableIntValue("ZELVOR_TEST_MOVRIN_TICK_MS");
    if (krv::platform::hook::active() && ms > 0)
        return std::chrono::milliseconds(ms);
    return krv::relauncher::Form1::kTick;
}

} // namespace

int main(int argc, char** argv) {
    // "-" followed by the archive's path relative to DirSis; the archive's SHA-256 as the
    // assistant checked it; then, from an unattended assistant, "--unattended" and the
    // arguments to restart it with.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    static const QRegularExpression hex(R"(^[0-9a-f]{64}\z)");
    const QString sha256 = hex.match(args.value(1)).hasMatch() ? args.value(1) : QString();
    const qsizetype next = sha256.isEmpty() ? 1 : 2;
    const bool unattended = args.value(next) == "--unattended";
    // The test hook's script side, handed over before the application starts the hook.
    krv::scripting::install();
    int qtArgc = 1; // the arguments are ours, not Qt's
    krv::platform::Application app(qtArgc, argv, "movrin", unattended);
    krv::relauncher::Form1 form(args.value(0), tick());
    form.relauncher().expectSha256(sha256);
    if (unattended) {
        form.relauncher().setUnattended(args.mid(next + 1));
        // Every box goes to standard output and is answered with its default button.
        krv::scripting::drive({}, &krv::platform::printUnattended);
    }
    form.show();
    krv::platform::endProgram(app.exec());
}
