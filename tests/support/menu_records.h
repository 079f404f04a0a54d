#pragma once
// Menu file records for the tests: each field padded to its width, 155 characters in all.
#include <QString>

namespace krv::test {

inline QString menuRecord(const QString& sistema, const QString& seq, const QString& menu,
                          const QString& nome, const QString& nivel, const QString& anterior,
                          const QString& programa) {
    return sistema.leftJustified(50) + seq.leftJustified(3) + menu.leftJustified(30) +
           nome.leftJustified(20) + nivel.leftJustified(1) + anterior.leftJustified(50) +
           programa.leftJustified(1);
}

} // namespace krv::test
