// The arrays a batch writes its answers into, and how each kind of answer is
// stored in a row: a float64 per value, a float64 per member of a tuple answer
// (MACD's three, Aroon's two), an int8 code
// per Signal.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "../nan.h"
#include "../signal.h"

namespace barworks::companion {

template <class Result>
struct Row;

template <>
struct Row<double> {
  using Cell = double;
  static constexpr Py_ssize_t kColumns = 1;
  static void store(Cell* row, double answer) noexcept { row[0] = answer; }
};

template <std::size_t N>
struct Row<std::array<double, N>> {
  using Cell = double;
  static constexpr Py_ssize_t kColumns = N;
  static void store(Cell* row, const std::array<double, N>& answer) noexcept {
    for (std::size_t i = 0; i < N; ++i) row[i] = answer[i];
  }
};

template <>
struct Row<Signal> {
  using Cell = std::int8_t;
  static constexpr Py_ssize_t kColumns = 1;
  static void store(Cell* row, Signal answer) noexcept {
    row[0] = static_cast<Cell>(answer.code);
  }
};

// A new numpy array of `rows` rows (and `columns` columns when more than
// one), float64 or int8 (or int64 times), with its memory held writable
// until destruction.
class Answers {
 public:
  Answers() noexcept = default;
  Answers(const Answers&) = delete;
  Answers& operator=(const Answers&) = delete;
  ~Answers();

  // False with an exception set.
  bool create(Py_ssize_t rows, Py_ssize_t columns, bool codes) noexcept;
  // Of shape (rows, lanes, columns), the last left out when it is 1.
  bool create_shaped(const std::array<Py_ssize_t, 3>& shape, bool codes) noexcept;
  // `rows` int64 cells, for times in nanoseconds.
  bool create_times(Py_ssize_t rows) noexcept;
  template <class Cell>
  Cell* cells() noexcept {
    return static_cast<Cell*>(view_.buf);
  }
  // The array, handed over to the caller.
  PyObject* release() noexcept;

 private:
  enum class Cells : std::uint8_t { kFloat64, kInt8, kInt64 };
  // Takes `shape`, a new reference.
  bool create_array(PyObject* shape, Py_ssize_t cells, Cells kind) noexcept;

  PyObject* array_ = nullptr;
  Py_buffer view_{};
  bool viewed_ = false;
};

// Forgets the cached numpy objects after the interpreter was finalised (no
// C API: called from a Py_AtExit callback).
void forget_numpy() noexcept;

// Fills the first `rows` rows of a float64 array with NaN.
inline void blank_rows(double* cells, Py_ssize_t rows, Py_ssize_t columns) noexcept {
  for (Py_ssize_t i = 0; i < rows * columns; ++i) cells[i] = kNaN;
}

}  // namespace barworks::companion
