// A universe's lanes with their fields side by side. For a record that
// names its fields (LaneFields), each field is one array over the symbols
// and a step runs the record's own advance() over two lanes at a time, the
// odd lane and the lanes a mask picks one at a time: the same operations in
// the same order as each record's update, so every lane keeps its bits.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "input.h"

namespace barworks::companion {

template <auto Member>
struct MemberOf;
template <class Record, class Type, Type Record::*Member>
struct MemberOf<Member> {
  using type = Type;
};

// What a field's lanes do once laid out and around a step: nothing, for
// most. Each field's lanes are a view of arrays that their owner, the
// PackedLanes, frees; a step copies the views, so that its stores of
// answers cannot be taken to move them.
struct StepsInPlace {
  void packed() noexcept {}
  void begin_step(bool) noexcept {}
  void end_step(bool) noexcept {}
};

template <class T>
T* allocate_lanes(std::size_t size) noexcept {
  return static_cast<T*>(PyMem_RawMalloc(std::max<std::size_t>(1, size) * sizeof(T)));
}

template <class Type>
class FieldLanes;

// A number per lane: a lone double, or two lanes' side by side.
template <>
class FieldLanes<double> : public StepsInPlace {
 public:
  bool allocate(Py_ssize_t lanes, const double&) noexcept {
    values_ = allocate_lanes<double>(static_cast<std::size_t>(lanes));
    return values_ != nullptr;
  }
  void release() noexcept { PyMem_RawFree(values_); }
  void pack(Py_ssize_t i, const double& value) noexcept { values_[i] = value; }
  void unpack(Py_ssize_t i, double& value) const noexcept { value = values_[i]; }
  template <class Number>
  Number get(Py_ssize_t i) const noexcept {
    Number value;
    std::memcpy(&value, values_ + i, sizeof value);
    return value;
  }
  template <class Number>
  void put(Py_ssize_t i, const Number& value) noexcept {
    std::memcpy(values_ + i, &value, sizeof value);
  }

 private:
  double* values_ = nullptr;
};

// A flag per lane, kept as the mask a pair of lanes selects with: all ones
// or all zeros.
template <>
class FieldLanes<bool> : public StepsInPlace {
 public:
  bool allocate(Py_ssize_t lanes, const bool&) noexcept {
    masks_ = allocate_lanes<std::int64_t>(static_cast<std::size_t>(lanes));
    return masks_ != nullptr;
  }
  void release() noexcept { PyMem_RawFree(masks_); }
  void pack(Py_ssize_t i, const bool& flag) noexcept { masks_[i] = flag ? -1 : 0; }
  void unpack(Py_ssize_t i, bool& flag) const noexcept { flag = masks_[i] != 0; }
  template <class Number>
  auto get(Py_ssize_t i) const noexcept {
    if constexpr (std::is_same_v<Number, double>) {
      return masks_[i] != 0;
    } else {
      LaneMask both;
      std::memcpy(&both, masks_ + i, sizeof both);
      return both;
    }
  }
  void put(Py_ssize_t i, bool flag) noexcept { masks_[i] = flag ? -1 : 0; }
  void put(Py_ssize_t i, const LaneMask& both) noexcept {
    std::memcpy(masks_ + i, &both, sizeof both);
  }

 private:
  std::int64_t* masks_ = nullptr;
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
    Number push(Number x) noexcept {
      if constexpr (std::is_same_v<Number, double>) {
        return lanes_.push(i_, x);
      } else {
        if (lanes_.aligned_) {
          double* at = lanes_.row_ + i_;
          Number old;
          std::memcpy(&old, at, sizeof old);
          std::memcpy(at, &x, sizeof x);
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

   private:
    FieldLanes& lanes_;
    Py_ssize_t i_;
  };

  bool allocate(Py_ssize_t lanes, const CircularWindow& first) noexcept {
    lanes_ = lanes;
    period_ = first.period;
    const auto count = static_cast<std::size_t>(lanes);
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
  void packed() noexcept { realign(); }
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

  void begin_step(bool every_lane) noexcept {
    if (!every_lane) spread();
    if (!aligned_) return;
    row_ = slots_ + index_all_ * static_cast<std::size_t>(lanes_);
    filled_all_ = static_cast<double>(count_all_ < period_ ? count_all_ + 1 : count_all_);
  }
  void end_step(bool every_lane) noexcept {
    if (!every_lane) {
      realign();
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

template <class Record, class List = typename LaneFields<Record>::List>
class PackedLanes;

template <class Record, auto... Members>
class PackedLanes<Record, FieldList<Members...>> {
 public:
  PackedLanes() noexcept = default;
  PackedLanes(const PackedLanes&) = delete;
  PackedLanes& operator=(const PackedLanes&) = delete;
  ~PackedLanes() {
    each(fields_, [](auto& field, auto) noexcept { field.release(); });
  }

  // The records' fields laid out; false when memory is short.
  bool pack(const Record* records, Py_ssize_t count) noexcept {
    lanes_ = count;
    if (count == 0) return true;
    bool laid = true;
    each(fields_, [&](auto& field, auto member) noexcept {
      laid = field.allocate(count, records[0].*member) && laid;
      if (!laid) return;
      for (Py_ssize_t i = 0; i < count; ++i) field.pack(i, records[i].*member);
      field.packed();
    });
    return laid;
  }
  void unpack(Record* records) const noexcept {
    each(fields_, [&](const auto& field, auto member) noexcept {
      for (Py_ssize_t i = 0; i < lanes_; ++i) field.unpack(i, records[i].*member);
    });
  }

  // One step of every lane, or of those `where` marks (the others answer
  // NaN), on the inputs `xs`; `shared` gives the parameters.
  void step(const Record& shared, Column xs, const unsigned char* where, double* answers) noexcept {
    const bool every_lane = where == nullptr;
    each(fields_, [&](auto& field, auto) noexcept { field.begin_step(every_lane); });
    // Parameters held apart from the stores too, where a copy is free.
    if constexpr (std::is_trivially_copyable_v<Record>) {
      const Record parameters = shared;
      step_copies(parameters, xs, where, answers);
    } else {
      step_copies(shared, xs, where, answers);
    }
    each(fields_, [&](auto& field, auto) noexcept { field.end_step(every_lane); });
  }

 private:
  using Fields = std::tuple<FieldLanes<typename MemberOf<Members>::type>...>;
  static constexpr auto kIndices = std::index_sequence_for<decltype(Members)...>{};

  template <class Tuple, class Visit>
  static void each(Tuple& fields, Visit&& visit) noexcept {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (visit(std::get<I>(fields), Members), ...);
    }(kIndices);
  }

  void step_copies(const Record& shared, Column xs, const unsigned char* where,
                   double* answers) const noexcept {
    Fields fields = fields_;
    const Py_ssize_t lanes = lanes_;
    if (where != nullptr) {
      for (Py_ssize_t i = 0; i < lanes; ++i) {
        answers[i] = where[i] != 0 ? advance(fields, shared, i, xs[i]) : kNaN;
      }
      return;
    }
    Py_ssize_t i = 0;
    const auto pairs = [&](const auto& column) noexcept {
      for (; i + 2 <= lanes; i += 2) {
        const DoublePair both = advance(fields, shared, i, column.pair(i));
        std::memcpy(answers + i, &both, sizeof both);
      }
    };
    if (xs.dense()) {
      pairs(DenseColumn{xs.data});
    } else {
      pairs(xs);
    }
    if (i < lanes) answers[i] = advance(fields, shared, i, xs[i]);
  }

  // The record's advance() on lane i, or lanes i and i + 1, of `fields`.
  template <class Number>
  static Number advance(Fields& fields, const Record& shared, Py_ssize_t i, Number x) noexcept {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      std::tuple handles{std::get<I>(fields).template get<Number>(i)...};
      const Number answer = Record::advance(shared, x, std::get<I>(handles)...);
      (std::get<I>(fields).put(i, std::get<I>(handles)), ...);
      return answer;
    }(kIndices);
  }

  Fields fields_;
  Py_ssize_t lanes_ = 0;
};

}  // namespace barworks::companion
