// Movrin: replaces Zelvor's executable with a newer one and starts it again.
#include "platform/application.h"
#include "platform/program.h"

#include <QWidget>

int main(int argc, char** argv) {
    krv::platform::Application app(argc, argv, "movrin");
    QWidget form;
    form.setObjectName("Form1");
    form.setWindowTitle("Atualizando assistente de atualização KRV");
    form.show();
    krv::platform::endProgram(app.exec());
}
