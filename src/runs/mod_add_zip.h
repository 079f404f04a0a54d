#pragma once
// Archive extraction (libzip): flat, every member matching the mask lands directly in the
// destination, files of the same names replaced without asking.
#include <QString>

namespace krv::runs {

void IniciaZip();
void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int restoreStructure);

} // namespace krv::runs
