#pragma once
// The module-wide run values: set and read on the user-interface thread, alive for the
// whole run.
#include <QString>

namespace krv::updatekrv {

extern QString DirSis;       // the suite's folder (default: the program folder)
extern QString DirSisExe;    // folder of Zelvor's own Config.BD
extern bool Atualizou;       // an update run has applied something
extern QString UsuarioAtual; // user logged in to the update server
extern QString Porta;        // port of the update server, from port.cfg
extern QString VersaoBD;     // database version the update brings
extern QString VersaoMenu;   // menu version the update brings
extern QString DirOrigem;    // source folder of a directory run

// The update folder: DirSis + "\update".
QString updateFolder();

// Back to the values of a fresh start (tests run several flows in one process).
void reset();

} // namespace krv::updatekrv
