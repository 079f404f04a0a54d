// Movrin: replaces Zelvor's executable with a newer one and starts it again.
#include "platform/application.h"
#include "platform/program.h"
#include "relauncher/form1.h"

int main(int argc, char** argv) {
    krv::platform::Application app(argc, argv, "movrin");
    const QStringList args = QCoreApplication::arguments();
    // One argument: "-" followed by the archive's path relative to DirSis.
    krv::relauncher::Form1 form(args.size() > 1 ? args.at(1) : QString());
    form.show();
    krv::platform::endProgram(app.exec());
}
