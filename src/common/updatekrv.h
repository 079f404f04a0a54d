#pragma once
// The suite's folders, set at the start of a run and read by every floor: the database floor
// opens the suite's database from them (Config.BD in DirSisExe, repaired from DirSis) and
// places its scratch copies in the update folder. The rest of a run's values belong to the
// run session (runs/run_session.h).
#include <QString>

namespace krv::updatekrv {

extern QString DirSis;    // the suite's folder (default: the program folder)
extern QString DirSisExe; // folder of Zelvor's own Config.BD

// The update folder: DirSis + "\update".
QString updateFolder();

// Back to the values of a fresh start (tests run several flows in one process).
void reset();

} // namespace krv::updatekrv
