// Zelvor: the update assistant. The program starts by loading its start window.
#include "navigation/frm_sel.h"
#include "platform/application.h"
#include "platform/forms.h"
#include "platform/program.h"

int main(int argc, char** argv) {
    krv::platform::Application app(argc, argv, "zelvor");
    try {
        auto& start = krv::platform::form<krv::navigation::frmSel>();
        start.Form_Load();
        start.show();
        start.activateWindow();
    } catch (const std::exception& e) {
        krv::platform::reportUnexpected(e);
    }
    krv::platform::endProgram(app.exec());
}
