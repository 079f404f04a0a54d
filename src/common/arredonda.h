#pragma once
// Rounding to a number of decimal places with halves going upward (2.5 -> 3, -2.5 -> -2).
#include <cstdint>

namespace krv {

double Arredonda(double value, std::int16_t digits);

} // namespace krv
