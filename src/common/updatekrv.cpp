#include "common/updatekrv.h"

#include "platform/paths.h"

namespace krv::updatekrv {

QString DirSis;
QString DirSisExe;

QString updateFolder() {
    return platform::winJoin(DirSis, "\\update");
}

void reset() {
    DirSis.clear();
    DirSisExe.clear();
}

} // namespace krv::updatekrv
