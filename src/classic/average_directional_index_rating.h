#pragma once

#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
#include "../warmup.h"
#include "../window.h"
#include "average_directional_index.h"
#include "family.h"

namespace barworks::classic {

// Wilder's average directional index rating: the mean of the average
// directional index (AverageDirectionalIndex) and its value period - 1 bars
// before:
//   ADXR = (ADX + ADX[-(period - 1)]) / 2
// kept in a window of the last `period` indices. Lookback 3 * period - 2.
// Bars that never move answer 0.0, as TA-Lib does.
struct AverageDirectionalIndexRating {
  AverageDirectionalIndex average;
  CircularWindow window;

  static Expected<AverageDirectionalIndexRating> create(std::uint32_t period) noexcept {
    auto average = AverageDirectionalIndex::create(period);
    if (!average) return std::unexpected(average.error());
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    return AverageDirectionalIndexRating{*average, std::move(*window)};
  }
  // Inlined where it is called, as the average's update is.
  [[gnu::always_inline]] double update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return average.indicators.advance_on_fields(*this, bar, average.average.average, window);
    }
    const double index = average.update(bar);
    if (!average.ready()) [[unlikely]] return kNotYet;
    window.push(index);
    if (window.count < window.period) [[unlikely]] return kNotYet;
    // Once full, the slot written next holds the oldest of the window's
    // indices, the one period - 1 bars back.
    return of_indices(index, window.values[window.index]);
  }
  // Once the window is full, the average's rule and the window's over a
  // number type, for a lone bar or lanes side by side.
  bool steady() const noexcept { return average.steady() && window.count == window.period; }
  template <class Number, class Values>
  [[gnu::always_inline]] static Number advance(const AverageDirectionalIndexRating& shared,
                                               Number open, Number high, Number low, Number close,
                                               Number volume, Number& previous_high,
                                               Number& previous_low, Number& plus_sum,
                                               Number& minus_sum, Number& previous_close,
                                               Number& range_sum, Number& smoothed,
                                               Values& window) noexcept {
    const std::uint32_t period = shared.window.period;
    const std::uint32_t slot = window.write_slot();
    const Number index = AverageDirectionalIndex::advance(
        shared.average, open, high, low, close, volume, previous_high, previous_low, plus_sum,
        minus_sum, previous_close, range_sum, smoothed);
    // The slot after the one written next holds the index period - 1 bars
    // back; a window of one holds the index itself.
    const Number earlier = period == 1 ? index : window.slot(slot + 1 == period ? 0 : slot + 1);
    window.push(index);
    return of_indices(index, earlier);
  }
  // The rating of an index and the index period - 1 bars before it.
  template <class Number>
  static Number of_indices(Number index, Number earlier) noexcept {
    return (index + earlier) / 2.0;
  }
  void reset() noexcept {
    average.reset();
    window.clear();
  }
  std::uint32_t length() const noexcept { return average.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::AverageDirectionalIndexRating>
    : ClassicPeriodIndicator<classic::AverageDirectionalIndexRating> {
  using R = classic::AverageDirectionalIndexRating;
  static constexpr const char* kName = "AverageDirectionalIndexRating";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 14));
};

// The window takes each index once the average answers.
template <>
struct Checkpoint<classic::AverageDirectionalIndexRating> {
  using R = classic::AverageDirectionalIndexRating;
  static constexpr auto kFields = std::tuple{
      component<&R::average>("average"), component<&R::window>("window"),
      rule<R>([](const R& r) noexcept { return r.window.period == r.average.length(); },
              "the window must hold the average's period"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>([](const R& r) noexcept { return r.window.count == 0 || r.average.ready(); },
              "the window must not have taken an index before the average answers")};
};
static_assert(checkpoint_layout::lists_every_member<classic::AverageDirectionalIndexRating>());

// The average's fields, then the window, which the rule reads past its
// write slot.
template <>
struct LaneFields<classic::AverageDirectionalIndexRating> {
  using R = classic::AverageDirectionalIndexRating;
  using List = Joined<within_all<&R::average, LaneFields<classic::AverageDirectionalIndex>::List>,
                      FieldList<&R::window>>;
  static constexpr bool kReadsWindowSlots = true;
};

// The average counts the bars up to its first answer, the window from there.
template <>
struct Warmup<classic::AverageDirectionalIndexRating> {
  using R = classic::AverageDirectionalIndexRating;
  static std::uint64_t lookback(const R& record) noexcept {
    return 3 * std::uint64_t{record.length()} - 2;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    if (record.window.count == 0) return Warmup<classic::AverageDirectionalIndex>::inputs_seen(record.average);
    return 2 * std::uint64_t{record.length()} - 1 + record.window.count;
  }
};

}  // namespace barworks
