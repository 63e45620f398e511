// A matrix of doubles by its strides, and the copying of a tile of it
// from one order into the other: shared by a universe's runs and the Arrow
// export of its answers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <utility>

#include "../lanes.h"
#include "input.h"

namespace barworks::companion {

// A (steps, lanes) matrix of doubles by its strides in bytes, lane j being
// column j: the inputs of a universe's run, or answers to copy.
struct Matrix {
  const char* data = nullptr;
  Py_ssize_t step_stride = 0;
  Py_ssize_t lane_stride = 0;

  // Lane j's inputs from step `from` on.
  Column lane(Py_ssize_t j, Py_ssize_t from) const noexcept {
    return Column{data == nullptr ? nullptr : data + from * step_stride + j * lane_stride,
                  step_stride};
  }
  bool dense_lanes() const noexcept {
    return step_stride == static_cast<Py_ssize_t>(sizeof(double));
  }
  // Whether a step's values of the lanes lie one after another.
  bool dense_rows() const noexcept {
    return lane_stride == static_cast<Py_ssize_t>(sizeof(double));
  }
};

// Each row of a matrix lies in a page of its own, where the processor does
// not read ahead by itself: the gathering asks for the tile's row this many
// rows ahead.
inline constexpr Py_ssize_t kRowsAhead = 8;
inline constexpr Py_ssize_t kLineBytes = 64;

// Two rows' values of two lanes, row-major (x holds row t's, y row t + 1's),
// as two lanes' values of two rows, lane-major: the first lane's rows, then
// the second's. Its own inverse.
inline std::pair<DoublePair, DoublePair> transposed(DoublePair x, DoublePair y) noexcept {
  return {__builtin_shufflevector(x, y, 0, 2), __builtin_shufflevector(x, y, 1, 3)};
}
inline DoublePair pair_at(const char* bytes) noexcept {
  DoublePair pair;
  std::memcpy(&pair, bytes, sizeof pair);
  return pair;
}

// Rows from .. from + span of a tile's lanes, each lane's one after another
// at room + k * lane_room. Where the lanes lie side by side, two rows of two
// lanes take two loads, two shuffles and two stores.
inline void gather_tile(const Matrix& matrix, Py_ssize_t from, Py_ssize_t span, Py_ssize_t first,
                 Py_ssize_t tile, Py_ssize_t lane_room, double* room) noexcept {
  const auto row = [&](Py_ssize_t t) {
    return Column{matrix.data + (from + t) * matrix.step_stride + first * matrix.lane_stride,
                  matrix.lane_stride};
  };
  const auto read_ahead = [&](Py_ssize_t t) {
    if (t + kRowsAhead >= span) return;
    const char* ahead = row(t).data + kRowsAhead * matrix.step_stride;
    for (Py_ssize_t b = 0; b < tile * matrix.lane_stride; b += kLineBytes) {
      __builtin_prefetch(ahead + b);
    }
  };
  Py_ssize_t t = 0;
  if (row(0).dense()) {
    for (; t + 2 <= span; t += 2) {
      const Column upper = row(t), lower = row(t + 1);
      read_ahead(t);
      read_ahead(t + 1);
      Py_ssize_t k = 0;
      for (; k + 2 <= tile; k += 2) {
        const auto [left, right] = transposed(pair_at(upper.data + k * sizeof(double)),
                                              pair_at(lower.data + k * sizeof(double)));
        store_lanes(room + k * lane_room + t, left);
        store_lanes(room + (k + 1) * lane_room + t, right);
      }
      if (k < tile) {
        room[k * lane_room + t] = upper[k];
        room[k * lane_room + t + 1] = lower[k];
      }
    }
  }
  for (; t < span; ++t) {
    const Column values = row(t);
    for (Py_ssize_t k = 0; k < tile; ++k) room[k * lane_room + t] = values[k];
    read_ahead(t);
  }
}

}  // namespace barworks::companion
