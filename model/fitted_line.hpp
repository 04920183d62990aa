#pragma once

#include <cstddef>

#include "model/arithmetic.hpp"

namespace trendfit {

// The fitted line y = intercept + slope * x. The passes compute it once per
// call; a caller that predicts many values takes it once and evaluates it a
// block at a time, so that a result of its own needs no buffer of all the
// predictions.
struct FittedLine {
    double slope;
    double intercept;

    // intercept + (slope * v), in that order, exactly as predict_single. The
    // caller holds the default floating-point state (the passes do).
    template <typename Arithmetic = detail::InWrittenOrder>
    double at(double v) const {
        return Arithmetic::add(intercept, Arithmetic::mul(slope, v));
    }

    // predictions[i] = the line at values[i], exactly as predict_single, in
    // the default floating-point state whatever state the caller left.
    void predict(const double* values, std::size_t count, double* predictions) const;
};

}  // namespace trendfit
