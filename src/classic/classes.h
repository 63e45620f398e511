// The classes of barworks.classic, in registration order: the one list that
// module registration, the companion's recognition and dispatch, and the
// checkpoint loader all read. A new class is its record's header and one
// line here.
#pragma once

#include "../describe.h"

#include "average_true_range.h"
#include "exponential_moving_average.h"
#include "moving_average_convergence_divergence.h"
#include "rate_of_change.h"
#include "relative_strength_index.h"
#include "standard_deviation.h"
#include "weighted_moving_average.h"
#include "double_exponential_moving_average.h"
#include "triple_exponential_moving_average.h"
#include "triangular_moving_average.h"
#include "momentum.h"
#include "kaufman_adaptive_moving_average.h"
#include "tillson_t3.h"
#include "bollinger_bands.h"
#include "linear_regression.h"
#include "linear_regression_angle.h"
#include "linear_regression_intercept.h"
#include "linear_regression_slope.h"
#include "time_series_forecast.h"
#include "variance.h"
#include "midpoint.h"
#include "normalized_average_true_range.h"
#include "parabolic_sar.h"
#include "correlation.h"
#include "beta.h"
#include "on_balance_volume.h"
#include "accumulation_distribution.h"
#include "chaikin_oscillator.h"
#include "money_flow_index.h"
#include "balance_of_power.h"
#include "aroon.h"
#include "williams_r.h"
#include "stochastic_fast.h"
#include "stochastic.h"
#include "stochastic_rsi.h"
#include "commodity_channel_index.h"
#include "ultimate_oscillator.h"
#include "plus_directional_movement.h"
#include "minus_directional_movement.h"
#include "plus_directional_indicator.h"
#include "minus_directional_indicator.h"
#include "directional_movement_index.h"
#include "average_directional_index.h"
#include "average_directional_index_rating.h"
#include "absolute_price_oscillator.h"
#include "percentage_price_oscillator.h"
#include "chande_momentum_oscillator.h"
#include "trix.h"

namespace barworks::classic {

using Classes = ClassList<AverageTrueRange, ExponentialMovingAverage,
                          MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex,
                          StandardDeviation, WeightedMovingAverage,
                          DoubleExponentialMovingAverage, TripleExponentialMovingAverage,
                          TriangularMovingAverage, Momentum, KaufmanAdaptiveMovingAverage,
                          TillsonT3, Variance, BollingerBands, LinearRegression,
                          LinearRegressionSlope, LinearRegressionIntercept, LinearRegressionAngle,
                          TimeSeriesForecast, Midpoint, Midprice, NormalizedAverageTrueRange, ParabolicSar, Correlation, Beta,
                          OnBalanceVolume, AccumulationDistribution, ChaikinOscillator,
                          MoneyFlowIndex, BalanceOfPower,
                          Aroon, AroonOscillator, WilliamsR, StochasticFast, Stochastic,
                          StochasticRsi, CommodityChannelIndex,
                          UltimateOscillator,
                          PlusDirectionalMovement, MinusDirectionalMovement,
                          PlusDirectionalIndicator, MinusDirectionalIndicator,
                          DirectionalMovementIndex, AverageDirectionalIndex,
                          AverageDirectionalIndexRating, AbsolutePriceOscillator,
                          PercentagePriceOscillator, ChandeMomentumOscillator, Trix>;

}  // namespace barworks::classic
