#include "model/fitted_line.hpp"

#include <cmath>

#include "model/floating_point_state.hpp"

namespace trendfit {

using detail::AsCompiled;
using detail::DefaultFloatingPointState;

void FittedLine::predict(const double* values, std::size_t count, double* predictions) const {
    const DefaultFloatingPointState guard;
    // At full speed first, as the passes are: a prediction that is not NaN is
    // the same either way, and only a NaN's bits depend on the order of the
    // operands, so only NaN predictions are made again in written order.
    // A local copy of the line: a store to predictions[i] could alias this
    // object's doubles, which would reload slope and intercept every element.
    const FittedLine line = *this;
    bool nan_made = false;
    for (std::size_t i = 0; i < count; ++i) {
        predictions[i] = line.at<AsCompiled>(values[i]);
        nan_made |= std::isnan(predictions[i]);
    }
    if (!nan_made) return;
    for (std::size_t i = 0; i < count; ++i)
        if (std::isnan(predictions[i])) predictions[i] = line.at(values[i]);
}

}  // namespace trendfit
