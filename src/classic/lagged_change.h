// Records whose answer, once their window is full, is a pure function of the
// input and the input `period` steps back (Momentum, RateOfChange). Such a
// record states that function once, as a static change(x, back) over a
// number type, and its update answers change(x, window.push(x)) with every
// input made canonical() before it is pushed. The change is plain
// arithmetic, which answers a NaN for a NaN in either input and makes only
// kNaN itself: so canonical(change(x, back)) is change(canonical(x),
// canonical(back)) to the bit, one canonical() where there were two. A run over an array of inputs
// can then read the input `period` steps back from the array instead of the
// window: the answers no longer wait on the window's loads and stores, and
// only the last `period` inputs need to be written to it.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "family.h"

namespace barworks::classic {

// The step of a full window, over a number type: for a lone record, or
// lanes side by side, whose windows stay full.
template <class Record, class Number, class Window>
Number advance_lagged(Number x, Window& window) noexcept {
  x = canonical(x);
  const Number back = window.push(x);
  return Record::change(x, back);
}

template <class Record>
concept LaggedChange = requires(Record& record, double x, DoublePair both) {
  { Record::change(x, x) } -> std::same_as<double>;
  { Record::change(both, both) } -> std::same_as<DoublePair>;
  requires std::same_as<decltype(record.window), CircularWindow>;
  { record.update(x) } -> std::same_as<double>;
};

// The update of such a record: the step of a full window, or the window
// filling, where NaN inputs before the first number are skipped.
template <LaggedChange Record>
double update_lagged(Record& record, double x) noexcept {
  if (record.steady()) [[likely]] return Record::advance(record, x, record.window);
  // Two NaNs may meet in the change: each is made the one NaN first.
  x = canonical(x);
  if (record.window.count == 0 && x != x) [[unlikely]] return kNotYet;
  record.window.push(x);
  return kNotYet;
}

// Answers the inputs read(0) .. read(size - 1) into answers[0 .. size), as
// that many calls of update would, and leaves the record as they would.
template <LaggedChange Record, class Read>
void run_lagged(Record& record, std::size_t size, Read read, double* answers) noexcept {
  CircularWindow& window = record.window;
  const std::size_t period = window.period;
  // Every input from `pushed_from` on enters the window (only leading NaNs
  // before the first number are skipped), so from `pushed_from` + period on
  // the input period steps back is in the array and the window is full.
  std::size_t pushed_from = window.count > 0 ? 0 : size;
  std::size_t i = 0;
  for (; i < size && (pushed_from == size || i - pushed_from < period); ++i) {
    answers[i] = record.update(read(i));
    if (pushed_from == size && window.count > 0) pushed_from = i;
  }
  if (i == size) return;
  const std::size_t from = i;
  // A reader that knows its inputs lie one after another says so, and the
  // loop over them vectorizes.
  const auto answer_rest = [&](auto inputs) {
    for (std::size_t j = from; j < size; ++j) {
      answers[j] = canonical(Record::change(inputs(j), inputs(j - period)));
    }
  };
  if constexpr (requires { read.dense(); }) {
    if (const auto dense = read.dense()) {
      answer_rest(*dense);
    } else {
      answer_rest(read);
    }
  } else {
    answer_rest(read);
  }
  // The window as the steps from `from` would leave it: the write slot
  // moved on by one a step, the last `period` inputs in the slots before it.
  const std::size_t skipped = size - from - std::min(size - from, period);
  window.index = static_cast<std::uint32_t>((window.index + skipped % period) % period);
  for (std::size_t j = from + skipped; j < size; ++j) window.push(canonical(read(j)));
}

}  // namespace barworks::classic

namespace barworks {

// A full window is all a lagged change keeps from step to step.
template <classic::LaggedChange Record>
struct LaneFields<Record> {
  using List = FieldList<&Record::window>;
};

}  // namespace barworks
