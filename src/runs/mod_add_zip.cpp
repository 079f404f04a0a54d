#include "runs/mod_add_zip.h"

namespace krv::runs {

void IniciaZip() {}
void Descompacta(const QString&, const QString&, const QString&, int) {}

} // namespace krv::runs
