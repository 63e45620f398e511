// A universe's lanes with their fields side by side. For a record that
// names its fields (LaneFields), each field is one array over the symbols
// and a step runs the record's own advance() over two lanes at a time, the
// odd lane and the lanes a mask picks one at a time: the same operations in
// the same order as each record's update, so every lane keeps its bits.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "../candle.h"
#include "../classic/exact_window.h"
#include "../classic/sliding_extremes.h"
#include "../lanes.h"
#include "../nan.h"
#include "../signal.h"
#include "../window.h"
#include "answers.h"
#include "classes.h"
#include "input.h"
#include "loop.h"

namespace barworks::companion {

// What a field's lanes do once laid out and around a step: nothing, for
// most. Each field's lanes are a view of arrays that their owner, the
// PackedLanes, frees; a step copies the views, so that its stores of
// answers cannot be taken to move them.
struct StepsInPlace {
  void packed(bool) noexcept {}
  void begin_step(bool) noexcept {}
  void end_step(bool, bool) noexcept {}
  bool aligned() const noexcept { return true; }
  bool share_write_slot(Py_ssize_t) const noexcept { return true; }
};

template <class T>
T* allocate_lanes(std::size_t size) noexcept {
  return static_cast<T*>(PyMem_RawMalloc(std::max<std::size_t>(1, size) * sizeof(T)));
}

template <class Type>
class FieldLanes;

// A field of one value per lane, the lanes' values in one array.
template <class T>
class LaneArray : public StepsInPlace {
 public:
  bool allocate(Py_ssize_t lanes, const T&) noexcept {
    values_ = allocate_lanes<T>(static_cast<std::size_t>(lanes));
    return values_ != nullptr;
  }
  void release() noexcept { PyMem_RawFree(values_); }
  void pack(Py_ssize_t i, const T& value) noexcept { values_[i] = value; }
  void unpack(Py_ssize_t i, T& value) const noexcept { value = values_[i]; }
  // A handle reads and writes the array in place.
  template <class Handle>
  void put(Py_ssize_t, const Handle&) noexcept {}

 protected:
  T* values_ = nullptr;
};

// A number per lane: a lone double, or two lanes' side by side.
template <>
class FieldLanes<double> : public LaneArray<double> {
 public:
  template <class Number>
  Number get(Py_ssize_t i) const noexcept {
    return load_lanes<Number>(values_ + i);
  }
  template <class Number>
  void put(Py_ssize_t i, const Number& value) noexcept {
    store_lanes(values_ + i, value);
  }
};

// A circular window per lane, slot-major: slot s of every lane lies in one
// row. While every lane writes the same slot and holds the same count (as
// they do when each step takes every lane), one slot and count stand for
// all and a step reads and writes one row; a step of some lanes only gives
// each its own again.
template <>
class FieldLanes<CircularWindow> {
 public:
  // One lane's window, or two lanes', as a record's window reads: push(x)
  // then filled().
  template <class Number>
  class At {
   public:
    At(FieldLanes& lanes, Py_ssize_t i) noexcept : lanes_(lanes), i_(i) {}
    [[gnu::always_inline]] Number push(Number x) noexcept {
      if constexpr (std::is_same_v<Number, double>) {
        return lanes_.push(i_, x);
      } else {
        if (lanes_.aligned_) {
          double* at = lanes_.row_ + i_;
          const Number old = load_lanes<Number>(at);
          store_lanes(at, x);
          return old;
        }
        return Number{lanes_.push(i_, x[0]), lanes_.push(i_ + 1, x[1])};
      }
    }
    Number filled() const noexcept {
      if constexpr (std::is_same_v<Number, double>) {
        return lanes_.filled(i_);
      } else {
        return Number{lanes_.filled(i_), lanes_.filled(i_ + 1)};
      }
    }
    Number slot(std::uint32_t place) const noexcept {
      return load_lanes<Number>(lanes_.slots_ + place * static_cast<std::size_t>(lanes_.lanes_) +
                                i_);
    }
    // The slots read in place, as CircularWindow::slots() gives them.
    At slots() const noexcept { return *this; }
    // The slot the next push writes: one lane's, or while aligned every
    // lane's (two lanes apart may have two; PackedLanes steps such a pair
    // one lane at a time for a record that reads it).
    std::uint32_t write_slot() const noexcept {
      return lanes_.aligned_ ? lanes_.index_all_ : lanes_.index_[i_];
    }

   private:
    FieldLanes& lanes_;
    Py_ssize_t i_;
  };

  // The records keep their own windows while their lanes lie side by side,
  // so the layout holds them a second time: past this many slots (1 GiB)
  // it is not made, and the records step as they are.
  static constexpr std::size_t kMostSlots = std::size_t{1} << 27;

  bool allocate(Py_ssize_t lanes, const CircularWindow& first) noexcept {
    lanes_ = lanes;
    period_ = first.period;
    const auto count = static_cast<std::size_t>(lanes);
    if (count * period_ > kMostSlots) return false;
    slots_ = allocate_lanes<double>(count * period_);
    index_ = allocate_lanes<std::uint32_t>(count);
    count_ = allocate_lanes<std::uint32_t>(count);
    return slots_ != nullptr && index_ != nullptr && count_ != nullptr;
  }
  void release() noexcept {
    PyMem_RawFree(slots_);
    PyMem_RawFree(index_);
    PyMem_RawFree(count_);
  }
  void pack(Py_ssize_t i, const CircularWindow& window) noexcept {
    for (std::uint32_t s = 0; s < period_; ++s) slots_[s * lanes_ + i] = window.values[s];
    index_[i] = window.index;
    count_[i] = window.count;
  }
  // A window's lanes share a slot only while every lane steps by the rule
  // side by side (`may_align`); a lane stepping as its record moves its own.
  void packed(bool may_align) noexcept {
    if (may_align) realign();
  }
  void unpack(Py_ssize_t i, CircularWindow& window) const noexcept {
    for (std::uint32_t s = 0; s < period_; ++s) window.values[s] = slots_[s * lanes_ + i];
    window.index = aligned_ ? index_all_ : index_[i];
    window.count = aligned_ ? count_all_ : count_[i];
  }
  template <class Number>
  At<Number> get(Py_ssize_t i) noexcept {
    return At<Number>(*this, i);
  }
  template <class Number>
  void put(Py_ssize_t, const At<Number>&) noexcept {}

  bool aligned() const noexcept { return aligned_; }
  // Whether lanes i and i + 1 write the same slot next.
  bool share_write_slot(Py_ssize_t i) const noexcept {
    return aligned_ || index_[i] == index_[i + 1];
  }
  void begin_step(bool uniform) noexcept {
    if (!uniform) spread();
    if (!aligned_) return;
    row_ = slots_ + index_all_ * static_cast<std::size_t>(lanes_);
    filled_all_ = static_cast<double>(count_all_ < period_ ? count_all_ + 1 : count_all_);
  }
  void end_step(bool uniform, bool may_align) noexcept {
    if (!uniform) {
      if (may_align) realign();
      return;
    }
    if (!aligned_) return;
    index_all_ = next_slot(index_all_, period_);
    if (count_all_ < period_) ++count_all_;
  }

 private:
  // CircularWindow::push for lane i alone.
  double push(Py_ssize_t i, double x) noexcept {
    if (aligned_) {
      const double old = row_[i];
      row_[i] = x;
      return old;
    }
    double& slot = slots_[index_[i] * static_cast<std::size_t>(lanes_) + i];
    const double old = slot;
    slot = x;
    index_[i] = next_slot(index_[i], period_);
    if (count_[i] < period_) ++count_[i];
    return old;
  }
  double filled(Py_ssize_t i) const noexcept {
    return aligned_ ? filled_all_ : static_cast<double>(count_[i]);
  }
  // Gives each lane its own slot and count again.
  void spread() noexcept {
    if (!aligned_) return;
    std::fill(index_, index_ + lanes_, index_all_);
    std::fill(count_, count_ + lanes_, count_all_);
    aligned_ = false;
  }
  // One slot and count for all, where every lane's are the same.
  void realign() noexcept {
    aligned_ = false;
    if (lanes_ == 0) return;
    for (Py_ssize_t i = 1; i < lanes_; ++i) {
      if (index_[i] != index_[0] || count_[i] != count_[0]) return;
    }
    aligned_ = true;
    index_all_ = index_[0];
    count_all_ = count_[0];
  }

  double* slots_ = nullptr;
  std::uint32_t* index_ = nullptr;
  std::uint32_t* count_ = nullptr;
  Py_ssize_t lanes_ = 0;
  std::uint32_t period_ = 0;
  bool aligned_ = false;
  std::uint32_t index_all_ = 0;
  std::uint32_t count_all_ = 0;
  double* row_ = nullptr;
  double filled_all_ = 0.0;
};

// A window of a record's own per slot (the suffixes of a window's
// extremes), slot-major as the window it follows: slot s of every lane in
// one row. It has no write slot of its own; the record reads it at its
// window's, so PackedLanes steps a pair of such a record's lanes together
// only where both windows write the same slot.
template <>
class FieldLanes<Window> : public StepsInPlace {
 public:
  static constexpr bool kFollowsWriteSlot = true;

  // One lane's slots, or two lanes', as a record reads and writes a Window:
  // slots[place] and slots[place] = x.
  template <class Number>
  class At {
   public:
    class Slot {
     public:
      explicit Slot(double* cell) noexcept : cell_(cell) {}
      operator Number() const noexcept { return load_lanes<Number>(cell_); }
      Slot& operator=(Number value) noexcept {
        store_lanes(cell_, value);
        return *this;
      }

     private:
      double* cell_;
    };
    At(double* first, Py_ssize_t lanes) noexcept : first_(first), lanes_(lanes) {}
    Slot operator[](std::uint32_t place) const noexcept {
      return Slot(first_ + place * static_cast<std::size_t>(lanes_));
    }

   private:
    double* first_;
    Py_ssize_t lanes_;
  };

  bool allocate(Py_ssize_t lanes, const Window& first) noexcept {
    lanes_ = lanes;
    size_ = first.size();
    const auto count = static_cast<std::size_t>(lanes);
    if (count * size_ > FieldLanes<CircularWindow>::kMostSlots) return false;
    slots_ = allocate_lanes<double>(count * size_);
    return slots_ != nullptr;
  }
  void release() noexcept { PyMem_RawFree(slots_); }
  void pack(Py_ssize_t i, const Window& window) noexcept {
    for (std::uint32_t s = 0; s < size_; ++s) slots_[s * lanes_ + i] = window[s];
  }
  void unpack(Py_ssize_t i, Window& window) const noexcept {
    for (std::uint32_t s = 0; s < size_; ++s) window[s] = slots_[s * lanes_ + i];
  }
  template <class Number>
  At<Number> get(Py_ssize_t i) const noexcept {
    return At<Number>(slots_ + i, lanes_);
  }
  template <class Number>
  void put(Py_ssize_t, const At<Number>&) noexcept {}

 private:
  double* slots_ = nullptr;
  Py_ssize_t lanes_ = 0;
  std::uint32_t size_ = 0;
};

// What a scan of one lane's window finds, as first_extreme_slot() of a
// record's own window does: the lowest slot that beats every earlier one,
// starting from the fill; slot 0 when none does.
template <class Order>
std::uint32_t first_extreme_slot(const FieldLanes<Window>::At<double>& values,
                                 std::uint32_t period) noexcept {
  double best = Order::kFill;
  std::uint32_t found = 0;
  for (std::uint32_t slot = 0; slot < period; ++slot) {
    const double value = values[slot];
    if (Order::beats(value, best)) {
      best = value;
      found = slot;
    }
  }
  return found;
}

// A slot index per lane (a window's write slot and its extreme's, where a
// record keeps them itself), for a record stepping one lane at a time.
template <>
class FieldLanes<std::size_t> : public LaneArray<std::size_t> {
 public:
  template <class Number>
  std::size_t get(Py_ssize_t i) const noexcept {
    static_assert(std::is_same_v<Number, double>, "slot indices are taken one lane at a time");
    return values_[i];
  }
  void put(Py_ssize_t i, std::size_t slot) noexcept { values_[i] = slot; }
};

// The count of inputs since a window's latest NaN, per lane: for a pair of
// lanes the NaN watch's own rule, 0 on a NaN and one more otherwise, as one
// addition and one mask of both counts.
template <>
class FieldLanes<classic::NanWatch> : public LaneArray<classic::NanWatch> {
 public:
  template <class Number>
  class At {
   public:
    explicit At(classic::NanWatch* watches) noexcept : watches_(watches) {}
    void admit(bool nan) noexcept { watches_[0].admit(nan); }
    void admit(LaneMask nan) noexcept {
      using Counts = std::uint64_t __attribute__((vector_size(16)));
      static_assert(sizeof(classic::NanWatch) == sizeof(std::uint64_t));
      Counts since;
      std::memcpy(&since, watches_, sizeof since);
      since = (since + 1) & ~std::bit_cast<Counts>(nan);
      std::memcpy(watches_, &since, sizeof since);
    }
    auto within(std::uint32_t length) const noexcept {
      if constexpr (std::is_same_v<Number, double>) {
        return watches_[0].within(length);
      } else {
        return LaneMask{-std::int64_t{watches_[0].within(length)},
                        -std::int64_t{watches_[1].within(length)}};
      }
    }

   private:
    classic::NanWatch* watches_;
  };

  template <class Number>
  At<Number> get(Py_ssize_t i) const noexcept {
    return At<Number>(values_ + i);
  }
};

// A flag per lane (a trend's direction), for a pair of lanes a mask.
template <>
class FieldLanes<bool> : public LaneArray<bool> {
 public:
  template <class Number>
  auto get(Py_ssize_t i) const noexcept {
    if constexpr (std::is_same_v<Number, double>) {
      return values_[i];
    } else {
      return LaneMask{-std::int64_t{values_[i]}, -std::int64_t{values_[i + 1]}};
    }
  }
  void put(Py_ssize_t i, bool flag) noexcept { values_[i] = flag; }
  void put(Py_ssize_t i, LaneMask flags) noexcept {
    values_[i] = flags[0] != 0;
    values_[i + 1] = flags[1] != 0;
  }
};

// A count per lane that every step raises by one (lanes.h's count_up()).
template <>
class FieldLanes<std::uint32_t> : public LaneArray<std::uint32_t> {
 public:
  // Two lanes' counts.
  class Pair {
   public:
    explicit Pair(std::uint32_t* counts) noexcept : counts_(counts) {}
    friend void count_up(Pair pair) noexcept {
      barworks::count_up(pair.counts_[0]);
      barworks::count_up(pair.counts_[1]);
    }
    std::uint32_t operator[](int lane) const noexcept { return counts_[lane]; }
    void assign(std::uint32_t count) noexcept {
      counts_[0] = count;
      counts_[1] = count;
    }
    // A count of slides since an exact computation, equal in both lanes (a
    // record taking a pair checks that first): raised, and whether the next
    // exact computation is due.
    friend bool exact_due(Pair pair, std::uint32_t every) noexcept {
      ++pair.counts_[0];
      ++pair.counts_[1];
      return pair.counts_[0] == every;
    }
    // Each lane's count raised, and a mask of the lanes whose next exact
    // computation is due.
    friend LaneMask exact_due_each(Pair pair, std::uint32_t every) noexcept {
      return LaneMask{-std::int64_t{++pair.counts_[0] == every},
                      -std::int64_t{++pair.counts_[1] == every}};
    }
    friend void restart(Pair pair) noexcept {
      pair.counts_[0] = 0;
      pair.counts_[1] = 0;
    }
    // Runs of equal inputs, each as the lone form extends it.
    friend void extend_run(Pair pair, LaneMask equal, std::uint32_t limit) noexcept {
      classic::extend_run(pair.counts_[0], equal[0] != 0, limit);
      classic::extend_run(pair.counts_[1], equal[1] != 0, limit);
    }
    // From 0 again in the lanes `where` marks.
    friend void restart(Pair pair, LaneMask where) noexcept {
      if (where[0] != 0) pair.counts_[0] = 0;
      if (where[1] != 0) pair.counts_[1] = 0;
    }

   private:
    std::uint32_t* counts_;
  };

  // One lane's count as a value, or two lanes' in place.
  template <class Number>
  auto get(Py_ssize_t i) const noexcept {
    if constexpr (std::is_same_v<Number, double>) {
      return values_[i];
    } else {
      return Pair(values_ + i);
    }
  }
  void put(Py_ssize_t i, std::uint32_t count) noexcept { values_[i] = count; }
  void put(Py_ssize_t, const Pair&) noexcept {}
};

// The inputs of lane i, or of lanes i and i + 1, as advance() takes them
// after the parameters: a value, a pair (x, y), or a bar's five prices
// (NaN for a column the class does not read).
template <class Record, class Number, class Columns>
auto inputs_at(const Columns& columns, Py_ssize_t i) noexcept {
  const auto at = [i](const auto& column) noexcept {
    if constexpr (std::is_same_v<Number, double>) {
      return column[i];
    } else {
      return column.pair(i);
    }
  };
  if constexpr (TakesBars<Record>) {
    const Number none = splat<Number>(kNaN);
    return std::tuple{kReadsOpen<Record> ? at(columns[0]) : none, at(columns[1]), at(columns[2]),
                      kReadsClose<Record> ? at(columns[3]) : none,
                      kReadsVolume<Record> ? at(columns[4]) : none};
  } else if constexpr (TakesPairs<Record>) {
    return std::tuple{at(columns[0]), at(columns[1])};
  } else {
    return std::tuple{at(columns[0])};
  }
}

// Lane i's answer into its row of `rows`, or lanes i and i + 1's into
// theirs: one number, numbers of a tuple, or a signal's code (a pair of
// lanes gives its codes as a mask's two integers).
inline void store_answer(double* rows, Py_ssize_t i, double answer) noexcept { rows[i] = answer; }
inline void store_answer(double* rows, Py_ssize_t i, DoublePair both) noexcept {
  store_lanes(rows + i, both);
}
template <std::size_t N>
void store_answer(double* rows, Py_ssize_t i, const std::array<double, N>& answer) noexcept {
  for (std::size_t c = 0; c < N; ++c) rows[i * N + c] = answer[c];
}
template <std::size_t N>
void store_answer(double* rows, Py_ssize_t i, const std::array<DoublePair, N>& both) noexcept {
  for (std::size_t c = 0; c < N; ++c) {
    rows[i * N + c] = both[c][0];
    rows[(i + 1) * N + c] = both[c][1];
  }
}
inline void store_answer(std::int8_t* rows, Py_ssize_t i, Signal answer) noexcept {
  Row<Signal>::store(rows + i, answer);
}
inline void store_answer(std::int8_t* rows, Py_ssize_t i, LaneMask codes) noexcept {
  rows[i] = static_cast<std::int8_t>(codes[0]);
  rows[i + 1] = static_cast<std::int8_t>(codes[1]);
}
// What a lane a mask leaves out answers: NaN in each float cell; -1 in a
// code cell, which is no Signal's code (0 BUY, 1 SELL, 2 HOLD).
inline void store_unstepped(double* cells, Py_ssize_t columns) noexcept {
  for (Py_ssize_t c = 0; c < columns; ++c) cells[c] = kNaN;
}
inline void store_unstepped(std::int8_t* cells, Py_ssize_t) noexcept { cells[0] = -1; }

template <class Record, class List = typename LaneFields<Record>::List>
class PackedLanes;

// Lanes that are steady run the record's advance() side by side. Until a
// lane is (an average still taking its seed, say) it steps as the record
// itself, on its fields put back for the step; such lanes also keep each
// window's slot and count its own.
template <class Record, auto... Members>
class PackedLanes<Record, FieldList<Members...>> {
 public:
  using Cell = typename RowOf<Record>::Cell;
  static constexpr Py_ssize_t kColumns = RowOf<Record>::kColumns;

  PackedLanes() noexcept = default;
  PackedLanes(const PackedLanes&) = delete;
  PackedLanes& operator=(const PackedLanes&) = delete;
  ~PackedLanes() {
    each(fields_, [](auto& field, auto) noexcept { field.release(); });
    PyMem_RawFree(unsteady_);
  }

  // The records' fields laid out; false when memory is short.
  bool pack(const Record* records, Py_ssize_t count) noexcept {
    lanes_ = count;
    unsteady_ = allocate_lanes<Py_ssize_t>(static_cast<std::size_t>(count));
    if (unsteady_ == nullptr) return false;
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (!is_steady(records[i])) unsteady_[unsteady_count_++] = i;
    }
    if (count == 0) return true;
    bool laid = true;
    each(fields_, [&](auto& field, auto member) noexcept {
      laid = laid && field.allocate(count, field_of<member.value>(records[0]));
      if (!laid) return;
      for (Py_ssize_t i = 0; i < count; ++i) field.pack(i, field_of<member.value>(records[i]));
      field.packed(unsteady_count_ == 0);
    });
    return laid;
  }
  void unpack(Record* records) const noexcept {
    for (Py_ssize_t i = 0; i < lanes_; ++i) unpack_lane(records[i], i);
  }

  // One step of every lane, or of those `where` marks (the others answer
  // NaN), on the inputs `columns`; `read` gives a lane's input for the
  // record's own update. The records give the parameters, and hold the
  // fields of the lanes not yet steady while they step.
  template <class Read>
  void step(Record* records, const std::array<Column, 5>& columns, const Read& read,
            const unsigned char* where, Cell* answers) noexcept {
    const bool uniform = where == nullptr && unsteady_count_ == 0;
    each(fields_, [&](auto& field, auto) noexcept { field.begin_step(uniform); });
    bool dense = true;
    for (const Column& column : columns) dense = dense && (column.data == nullptr || column.dense());
    if (dense) {
      std::array<DenseColumn, 5> dense_columns;
      for (std::size_t c = 0; c < columns.size(); ++c) dense_columns[c] = DenseColumn{columns[c].data};
      step_copies(records, dense_columns, read, where, answers);
    } else {
      step_copies(records, columns, read, where, answers);
    }
    // Lanes that came steady leave the list.
    Py_ssize_t kept = 0;
    for (Py_ssize_t k = 0; k < unsteady_count_; ++k) {
      if (!is_steady(records[unsteady_[k]])) unsteady_[kept++] = unsteady_[k];
    }
    unsteady_count_ = kept;
    each(fields_, [&](auto& field, auto) noexcept { field.end_step(uniform, unsteady_count_ == 0); });
  }

 private:
  using Fields = std::tuple<FieldLanes<std::remove_cvref_t<
      decltype(field_of<Members>(std::declval<Record&>()))>>...>;
  static constexpr auto kIndices = std::index_sequence_for<decltype(Members)...>{};

  template <class Tuple, class Visit>
  static void each(Tuple& fields, Visit&& visit) noexcept {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (visit(std::get<I>(fields), std::integral_constant<decltype(Members), Members>{}), ...);
    }(kIndices);
  }

  void unpack_lane(Record& record, Py_ssize_t i) const noexcept {
    each(fields_, [&](const auto& field, auto member) noexcept {
      field.unpack(i, field_of<member.value>(record));
    });
  }
  void pack_lane(const Record& record, Py_ssize_t i) noexcept {
    each(fields_, [&](auto& field, auto member) noexcept {
      field.pack(i, field_of<member.value>(record));
    });
  }

  // Lane i as the record itself steps it.
  template <class Read>
  void step_record(Record* records, Py_ssize_t i, const Read& read, Cell* answers) noexcept {
    unpack_lane(records[i], i);
    store_answer(answers, i, companion::step(records[i], read(i)));
    pack_lane(records[i], i);
  }

  template <class Columns, class Read>
  void step_copies(Record* records, const Columns& columns, const Read& read,
                   const unsigned char* where, Cell* answers) noexcept {
    Fields fields = fields_;
    // Parameters held apart from the stores too, where a copy is free.
    if constexpr (std::is_trivially_copyable_v<Record>) {
      const Record shared = records[0];
      step_lanes(fields, shared, records, columns, read, where, answers);
    } else {
      step_lanes(fields, records[0], records, columns, read, where, answers);
    }
  }

  // The lanes in order: runs of steady lanes a pair at a time, each lane
  // not yet steady (or, under a mask, each lane) on its own.
  template <class Columns, class Read>
  void step_lanes(Fields& fields, const Record& shared, Record* records, const Columns& columns,
                  const Read& read, const unsigned char* where, Cell* answers) noexcept {
    const Py_ssize_t* next_unsteady = unsteady_;
    const Py_ssize_t* const unsteady_end = unsteady_ + unsteady_count_;
    if (where != nullptr) {
      for (Py_ssize_t i = 0; i < lanes_; ++i) {
        const bool steady = next_unsteady == unsteady_end || *next_unsteady != i;
        if (!steady) ++next_unsteady;
        if (where[i] == 0) {
          store_unstepped(answers + i * kColumns, kColumns);
        } else if (steady) {
          store_answer(answers, i, advance(fields, shared, i, inputs_at<Record, double>(columns, i)));
        } else {
          step_record(records, i, read, answers);
        }
      }
      return;
    }
    const bool apart = some_lanes_apart(fields);
    Py_ssize_t i = 0;
    for (;;) {
      const Py_ssize_t end = next_unsteady == unsteady_end ? lanes_ : *next_unsteady;
      const auto one = [&](Py_ssize_t lane) __attribute__((always_inline)) {
        store_answer(answers, lane,
                     advance(fields, shared, lane, inputs_at<Record, double>(columns, lane)));
      };
      if constexpr (kOneLaneAtATime) {
        for (; i < end; ++i) one(i);
      } else {
        for (; i + 2 <= end; i += 2) {
          if (apart && !share_write_slot(fields, i)) [[unlikely]] {
            one(i);
            one(i + 1);
            continue;
          }
          const auto inputs = inputs_at<Record, DoublePair>(columns, i);
          if constexpr (kPairsOnCommonPath) {
            if (!takes_pair(fields, shared, i, inputs)) [[unlikely]] {
              one(i);
              one(i + 1);
              continue;
            }
          }
          store_answer(answers, i, advance(fields, shared, i, inputs));
        }
        if (i < end) one(i++);
      }
      if (i == lanes_) return;
      step_record(records, i, read, answers);
      ++i;
      ++next_unsteady;
    }
  }

  // A record whose rule is written for a lone double only (it branches
  // lane by lane) says so; its lanes then step one at a time, still on
  // their fields side by side.
  static constexpr bool kOneLaneAtATime = requires { LaneFields<Record>::kOneLaneAtATime; };

  // A record whose rule for a pair of lanes covers only its common path (a
  // slide, not a non-finite input arriving or leaving) says whether a pair
  // is on it, before either lane is touched: its static
  //   pair_on_common_path(shared, inputs..., fields...)
  // takes what advance() takes. A pair off it steps a lane at a time.
  static constexpr bool kPairsOnCommonPath = requires { LaneFields<Record>::kPairsOnCommonPath; };

  // A field that follows its window's write slot (kFollowsWriteSlot) takes
  // a pair of lanes only where both write the same slot: always while every
  // window's lanes are aligned, and otherwise where the pair's are.
  // So does a record that reads its window's slots (kReadsWindowSlots).
  static constexpr bool kFollowsWriteSlot =
      requires { LaneFields<Record>::kReadsWindowSlots; } ||
      []<class... F>(std::type_identity<std::tuple<F...>>) {
        return (requires { F::kFollowsWriteSlot; } || ...);
      }(std::type_identity<Fields>{});
  static bool some_lanes_apart(const Fields& fields) noexcept {
    if constexpr (!kFollowsWriteSlot) {
      return false;
    } else {
      bool aligned = true;
      each(fields, [&](const auto& field, auto) noexcept { aligned = aligned && field.aligned(); });
      return !aligned;
    }
  }
  static bool share_write_slot(const Fields& fields, Py_ssize_t i) noexcept {
    bool shared = true;
    each(fields, [&](const auto& field, auto) noexcept {
      shared = shared && field.share_write_slot(i);
    });
    return shared;
  }

  // The record's advance() on lane i, or lanes i and i + 1, of `fields`;
  // inlined, so that the lanes' fields stay in registers for the step.
  template <class Inputs>
  [[gnu::always_inline]] static auto advance(Fields& fields, const Record& shared, Py_ssize_t i,
                                             const Inputs& inputs) noexcept {
    return advance(fields, shared, i, inputs, std::make_index_sequence<std::tuple_size_v<Inputs>>{},
                   kIndices);
  }
  template <class Inputs, std::size_t... J, std::size_t... I>
  [[gnu::always_inline]] static auto advance(Fields& fields, const Record& shared,
                                             [[maybe_unused]] Py_ssize_t i,
                                             const Inputs& inputs, std::index_sequence<J...>,
                                             std::index_sequence<I...>) noexcept {
    using Number = std::tuple_element_t<0, Inputs>;
    std::tuple handles{std::get<I>(fields).template get<Number>(i)...};
    const auto answer = Record::advance(shared, std::get<J>(inputs)..., std::get<I>(handles)...);
    (std::get<I>(fields).put(i, std::get<I>(handles)), ...);
    return answer;
  }

  template <class Inputs>
  [[gnu::always_inline]] static bool takes_pair(Fields& fields, const Record& shared, Py_ssize_t i,
                                                const Inputs& inputs) noexcept {
    return std::apply(
        [&](const auto&... input) __attribute__((always_inline)) {
          return [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
            return Record::pair_on_common_path(
                shared, input..., std::get<I>(fields).template get<DoublePair>(i)...);
          }(kIndices);
        },
        inputs);
  }

  Fields fields_;
  Py_ssize_t lanes_ = 0;
  // The lanes not yet steady, in order.
  Py_ssize_t* unsteady_ = nullptr;
  Py_ssize_t unsteady_count_ = 0;
};

}  // namespace barworks::companion
