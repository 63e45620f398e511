#include "input.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <type_traits>

#include "classes.h"

namespace barworks::companion {

namespace {

bool parse_format(const char* format, CellFormat& cell) noexcept {
  if (format == nullptr) format = "B";
  bool big = std::endian::native == std::endian::big;
  switch (*format) {
    case '@': case '=': ++format; break;
    case '<': big = false; ++format; break;
    case '>': case '!': big = true; ++format; break;
    default: break;
  }
  if (format[0] == '\0' || format[1] != '\0') return false;
  cell.code = format[0];
  cell.swapped = big != (std::endian::native == std::endian::big);
  return true;
}

template <class Bits>
Bits load_bits(const char* at, bool swapped) noexcept {
  Bits bits;
  std::memcpy(&bits, at, sizeof bits);
  return swapped ? std::byteswap(bits) : bits;
}

constexpr std::string_view kSignedCodes = "bhilqn";
constexpr std::string_view kUnsignedCodes = "BHILQN";

// Whether cells of this format and size are numbers this module reads.
bool is_number_cell(CellFormat cell, Py_ssize_t size) noexcept {
  switch (cell.code) {
    case 'd': return size == 8;
    case 'f': return size == 4;
    case 'e': return size == 2;
    case 'g': return size == sizeof(long double) && !cell.swapped;
    case '?': return size == 1;
    default: break;
  }
  const bool integer = kSignedCodes.find(cell.code) != std::string_view::npos ||
                       kUnsignedCodes.find(cell.code) != std::string_view::npos;
  return integer && (size == 1 || size == 2 || size == 4 || size == 8);
}

template <class Unsigned>
double integer_cell(const char* at, bool is_signed, bool swapped) noexcept {
  const Unsigned bits = load_bits<Unsigned>(at, swapped);
  return is_signed ? static_cast<double>(static_cast<std::make_signed_t<Unsigned>>(bits))
                   : static_cast<double>(bits);
}

// A tuple of the items of `object` (itself when it is a tuple): a snapshot
// that Python code run by a conversion cannot shrink under the loop.
PyObject* items_of(PyObject* object, const char* parameter, const char* wanted) noexcept {
  if (!PySequence_Check(object)) [[unlikely]] {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, not '%T'", parameter, wanted,
                 object);
    return nullptr;
  }
  return PySequence_Tuple(object);
}

constexpr const char* kNumbers = "a numeric buffer or a sequence of numbers";

// Whether the pending error of PyObject_GetBuffer says only that the object
// exports no such buffer; anything else (an interrupt, no memory, an error of
// the exporter's own) must reach the caller.
bool exports_no_buffer() noexcept {
  return PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_BufferError);
}

}  // namespace

double read_cell(const char* at, Py_ssize_t size, CellFormat cell) noexcept {
  switch (cell.code) {
    case 'd': return std::bit_cast<double>(load_bits<std::uint64_t>(at, cell.swapped));
    case 'f': return std::bit_cast<float>(load_bits<std::uint32_t>(at, cell.swapped));
    case 'e': return PyFloat_Unpack2(at, (std::endian::native == std::endian::little) != cell.swapped);
    case 'g': {
      // Only in this machine's own format, whatever the prefix says.
      long double wide;
      std::memcpy(&wide, at, sizeof wide);
      return static_cast<double>(wide);
    }
    case '?': return *at != 0 ? 1.0 : 0.0;
    default: break;
  }
  const bool is_signed = kSignedCodes.find(cell.code) != std::string_view::npos;
  switch (size) {
    case 1: return integer_cell<std::uint8_t>(at, is_signed, false);
    case 2: return integer_cell<std::uint16_t>(at, is_signed, cell.swapped);
    case 4: return integer_cell<std::uint32_t>(at, is_signed, cell.swapped);
    default: return integer_cell<std::uint64_t>(at, is_signed, cell.swapped);
  }
}

bool is_native_format(const char* format, char code) noexcept {
  CellFormat cell;
  return format != nullptr && parse_format(format, cell) && cell.code == code && !cell.swapped;
}

Values::~Values() {
  if (pinned_) PyBuffer_Release(&view_);
  PyMem_Free(owned_);
}

bool Values::take(PyObject* object, const char* parameter, Nulls nulls) noexcept {
  if (!PyObject_CheckBuffer(object)) {
    // polars, pyarrow and the other Arrow producers export no buffer.
    const int exported = arrow_.take(object, parameter);
    if (exported != 0) return exported > 0 && take_arrow(parameter, nulls);
  } else {
    if (PyObject_GetBuffer(object, &view_, PyBUF_STRIDES | PyBUF_FORMAT) == 0) {
      pinned_ = true;
      // An array of Python objects (numpy's dtype object) holds numbers to
      // convert one by one, not doubles.
      if (view_.format == nullptr || std::string_view(view_.format) != "O") {
        return pin(object, parameter);
      }
      PyBuffer_Release(&view_);
      pinned_ = false;
      return convert(object, parameter);
    }
    // An exporter that cannot describe itself as a strided buffer may still
    // be a sequence of numbers; any other failure is the caller's to see.
    if (!PySequence_Check(object) || !exports_no_buffer()) return false;
    PyErr_Clear();
  }
  return convert(object, parameter);
}

bool Values::pin(PyObject* object, const char* parameter) noexcept {
  CellFormat cell;
  if (!parse_format(view_.format, cell) || !is_number_cell(cell, view_.itemsize)) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected a buffer of numbers (float64, float32, integers or "
                 "bools), got format '%s' from '%T'",
                 parameter, view_.format != nullptr ? view_.format : "B", object);
    return false;
  }
  if (view_.ndim != 1) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected one column of numbers, got %d dimensions ('%T'); pass "
                 "one column, such as frame['close']",
                 parameter, view_.ndim, object);
    return false;
  }
  const Py_ssize_t size = view_.shape[0];
  const char* cells = static_cast<const char*>(view_.buf);
  const Py_ssize_t stride = view_.strides[0];
  if (cell.code == 'd' && !cell.swapped) [[likely]] {
    // float64 in this machine's order is read where it lies.
    size_ = size;
    column_ = Column{cells, stride};
    return true;
  }
  if (!allocate(size)) return false;
  // Other numbers are converted into a copy, as a sequence's items are.
  for (Py_ssize_t i = 0; i < size; ++i) owned_[i] = read_cell(cells + i * stride, view_.itemsize, cell);
  PyBuffer_Release(&view_);
  pinned_ = false;
  return true;
}

bool Values::take_arrow(const char* parameter, Nulls nulls) noexcept {
  const Py_ssize_t null_at = arrow_.first_null();
  if (null_at >= 0 && nulls == Nulls::kRefuse) [[unlikely]] {
    PyErr_Format(PyExc_ValueError,
                 "argument '%s': null at position %zd; pass nulls='nan' to read nulls as NaN, "
                 "or fill or drop them first",
                 parameter, null_at);
    return false;
  }
  if (null_at < 0 && arrow_.is_float64()) [[likely]] {
    size_ = arrow_.size();
    arrow_in_place_ = true;
    return true;
  }
  return allocate(arrow_.size()) && arrow_.convert(owned_);
}

ColumnChunk Values::chunk(Py_ssize_t index) const noexcept {
  if (!arrow_in_place_) return ColumnChunk{column_, size_};
  const DenseChunk dense = arrow_.chunk(index);
  return ColumnChunk{Column{dense.data, sizeof(double)}, dense.size};
}

bool Values::gather(Column& column) noexcept {
  if (chunk_count() > 1) {
    const Py_ssize_t size = size_;
    if (!allocate(size)) return false;
    Py_ssize_t at = 0;
    for (Py_ssize_t c = 0; at < size; ++c) {
      const DenseChunk dense = arrow_.chunk(c);
      std::copy_n(reinterpret_cast<const double*>(dense.data), dense.size, owned_ + at);
      at += dense.size;
    }
    arrow_in_place_ = false;
  }
  column = chunk(0).column;
  return true;
}

bool Values::allocate(Py_ssize_t size) noexcept {
  if (static_cast<std::size_t>(size) > PY_SSIZE_T_MAX / sizeof(double)) [[unlikely]] {
    PyErr_NoMemory();
    return false;
  }
  // One byte at least, so that an empty run still has a valid address.
  owned_ = static_cast<double*>(PyMem_Malloc(size > 0 ? size * sizeof(double) : 1));
  if (owned_ == nullptr) [[unlikely]] {
    PyErr_NoMemory();
    return false;
  }
  size_ = size;
  column_ = Column{reinterpret_cast<const char*>(owned_), sizeof(double)};
  return true;
}

bool Values::convert(PyObject* object, const char* parameter) noexcept {
  PyObject* items = items_of(object, parameter, kNumbers);
  if (items == nullptr) return false;
  const Py_ssize_t size = PyTuple_GET_SIZE(items);
  bool converted = allocate(size);
  for (Py_ssize_t i = 0; converted && i < size; ++i) {
    Argument<double> item;
    if (item.convert(PyTuple_GET_ITEM(items, i))) [[likely]] {
      owned_[i] = item.get();
    } else {
      raise_item_error(parameter, i);
      converted = false;
    }
  }
  Py_DECREF(items);
  return converted;
}

bool take_bars(PyObject* bars, BarColumns& columns) noexcept {
  PyObject* items =
      items_of(bars, "bars", "a sequence of Bar (or the three columns high, low and close)");
  if (items == nullptr) return false;
  const Py_ssize_t size = PyTuple_GET_SIZE(items);
  bool converted = columns.open.allocate(size) && columns.high.allocate(size) &&
                   columns.low.allocate(size) && columns.close.allocate(size) &&
                   columns.volume.allocate(size);
  columns.has_open = columns.has_volume = true;
  for (Py_ssize_t i = 0; converted && i < size; ++i) {
    // Read as a classic bar-fed next reads its bar.
    Argument<const Candle&> item;
    if (item.convert(PyTuple_GET_ITEM(items, i))) [[likely]] {
      const Candle& bar = item.get();
      columns.open.owned()[i] = bar.open;
      columns.high.owned()[i] = bar.high;
      columns.low.owned()[i] = bar.low;
      columns.close.owned()[i] = bar.close;
      columns.volume.owned()[i] = bar.volume;
    } else {
      raise_item_error("bars", i);
      converted = false;
    }
  }
  Py_DECREF(items);
  return converted;
}

void raise_item_error(const char* parameter, Py_ssize_t index) noexcept {
  char name[96];
  std::snprintf(name, sizeof name, "%s[%zd]", parameter, index);
  raise_argument_error(name);
}

}  // namespace barworks::companion
