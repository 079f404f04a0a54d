// Movrin: replaces Zelvor's executable with a newer one and starts it again.
#include "platform/application.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "relauncher/form1.h"

#include <QDateTime>
#include <cstdio>

namespace {

// Unattended: every box goes to standard output as the assistant writes it (time, title,
// text) and is answered with its default button.
void writeBoxes(const QString& kind, const QStringList& fields) {
    using krv::platform::hook::escape;
    if (kind != "msgbox")
        return;
    const QByteArray line = (QDateTime::currentDateTime().toString(Qt::ISODate) + '\t' +
                             escape(fields.value(0)) + '\t' + escape(fields.value(3)) + '\n')
                                .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // "-" followed by the archive's path relative to DirSis; then, from an unattended
    // assistant, "--unattended" and the arguments to restart it with.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool unattended = args.value(1) == "--unattended";
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool hadPlatform = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    if (unattended)
        qputenv("QT_QPA_PLATFORM", "offscreen"); // nobody looks at the window
    int qtArgc = 1;                              // the arguments are ours, not Qt's
    krv::platform::Application app(qtArgc, argv, "movrin");
    krv::relauncher::Form1 form(args.value(0));
    if (unattended) {
        // The new assistant decides its own platform, as the one that started us did.
        if (hadPlatform)
            qputenv("QT_QPA_PLATFORM", platform);
        else
            qunsetenv("QT_QPA_PLATFORM");
        form.relauncher().setUnattended(args.mid(2));
        krv::platform::hook::drive({}, &writeBoxes);
    }
    form.show();
    krv::platform::endProgram(app.exec());
}
