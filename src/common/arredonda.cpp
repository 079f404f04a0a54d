#include "common/arredonda.h"

#include "platform/krv_error.h"

#include <cmath>

namespace krv {

double Arredonda(double value, std::int16_t digits) {
    const double scale = std::pow(10.0, digits);
    const double result = std::floor(value * scale + 0.5) / scale;
    if (!std::isfinite(result) && std::isfinite(value))
        throw KrvError(6, "Overflow");
    return result;
}

} // namespace krv
