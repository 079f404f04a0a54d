// Stands in for the version check until it is built: a successful login stops here.
#include "navigation/modulos.h"

namespace krv::navigation {

void Modulos(frmInicio&) {}

} // namespace krv::navigation
