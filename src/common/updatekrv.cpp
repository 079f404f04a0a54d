#include "common/updatekrv.h"

#include "platform/paths.h"

namespace krv::updatekrv {

QString DirSis;
QString DirSisExe;
bool Atualizou = false;
QString UsuarioAtual;
QString Porta;
QString VersaoBD;
QString VersaoMenu;
QString DirOrigem;

QString updateFolder() {
    return platform::winJoin(DirSis, "\\update");
}

void reset() {
    DirSis.clear();
    DirSisExe.clear();
    Atualizou = false;
    UsuarioAtual.clear();
    Porta.clear();
    VersaoBD.clear();
    VersaoMenu.clear();
    DirOrigem.clear();
}

} // namespace krv::updatekrv
