#include "arrow.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "../nan.h"
#include "input.h"

namespace barworks::companion {

namespace {

// The fixed-width number formats of the C data interface and the struct
// module code and width each is read as.
struct NumberFormat {
  const char* format;
  char code;
  int width;
};
constexpr NumberFormat kNumberFormats[] = {
    {"g", 'd', 8}, {"f", 'f', 4}, {"e", 'e', 2}, {"c", 'b', 1}, {"C", 'B', 1},
    {"s", 'h', 2}, {"S", 'H', 2}, {"i", 'i', 4}, {"I", 'I', 4}, {"l", 'q', 8},
    {"L", 'Q', 8},
};

bool bit_is_set(const void* bits, std::int64_t index) noexcept {
  return (static_cast<const std::uint8_t*>(bits)[index >> 3] >> (index & 7)) & 1;
}

// Whether value `index` of `array` is null: by the validity bitmap, which a
// producer may leave out when there is no null.
bool is_null(const ArrowArray& array, std::int64_t index, char kind) noexcept {
  if (kind == 'n') return true;
  if (array.null_count == 0 || array.n_buffers == 0 || array.buffers[0] == nullptr) return false;
  return !bit_is_set(array.buffers[0], array.offset + index);
}

// 10**k for 0 <= k <= 22, each exact in a double.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kExactIntegers = std::int64_t{1} << 53;

// The integer of a decimal cell when it fits in 64 bits: the words above the
// lowest only extend its sign. Read so on little-endian machines only; the
// others take the interpreter's path.
bool small_decimal(const char* at, int width, std::int64_t& value) noexcept {
  if constexpr (std::endian::native != std::endian::little) return false;
  if (width == 4) {
    std::int32_t narrow;
    std::memcpy(&narrow, at, sizeof narrow);
    value = narrow;
    return true;
  }
  std::memcpy(&value, at, sizeof value);
  const std::uint64_t extension = value < 0 ? ~std::uint64_t{0} : 0;
  for (int word = 1; word < width / 8; ++word) {
    std::uint64_t high;
    std::memcpy(&high, at + word * 8, sizeof high);
    if (high != extension) return false;
  }
  return true;
}

// A decimal's value as float(decimal.Decimal) gives it, rounded once: one
// exact division or product where the integer and the power of ten are
// exact doubles, else the interpreter's correctly rounded integer
// arithmetic. `power` is 10**|scale| as a Python int; -1.0 with an
// exception set on failure (which only an out-of-memory can cause).
double decimal_value(const char* at, int width, int scale, PyObject* power) noexcept {
  std::int64_t small;
  if (small_decimal(at, width, small) && small >= -kExactIntegers && small <= kExactIntegers &&
      scale >= -22 && scale <= 22) [[likely]] {
    const double integer = static_cast<double>(small);
    return scale >= 0 ? integer / kExactPowersOfTen[scale] : integer * kExactPowersOfTen[-scale];
  }
  PyObject* integer = PyLong_FromNativeBytes(at, static_cast<std::size_t>(width), -1);
  if (integer == nullptr) return -1.0;
  PyObject* value = scale >= 0 ? PyNumber_TrueDivide(integer, power)
                               : PyNumber_Multiply(integer, power);
  Py_DECREF(integer);
  if (value == nullptr) return -1.0;
  double converted = PyFloat_Check(value) ? PyFloat_AS_DOUBLE(value) : PyLong_AsDouble(value);
  Py_DECREF(value);
  if (converted == -1.0 && PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_OverflowError)) {
    // Beyond the doubles, as float(Decimal('1E+400')) is; the top byte
    // holds the sign.
    PyErr_Clear();
    converted = (at[width - 1] & 0x80) != 0 ? -HUGE_VAL : HUGE_VAL;
  }
  return converted;
}

// The scale and width of a decimal format "d:precision,scale[,bits]".
// from_chars, not strtol: glibc's C23 strtol would raise the wheel's
// glibc floor.
bool parse_decimal(const char* format, int& scale, int& width) noexcept {
  if (std::strncmp(format, "d:", 2) != 0) return false;
  const char* end = format + std::strlen(format);
  int precision = 0, bits = 128;
  auto read = std::from_chars(format + 2, end, precision);
  if (read.ec != std::errc{} || read.ptr == end || *read.ptr != ',') return false;
  read = std::from_chars(read.ptr + 1, end, scale);
  if (read.ec != std::errc{}) return false;
  if (read.ptr != end) {
    if (*read.ptr != ',') return false;
    read = std::from_chars(read.ptr + 1, end, bits);
    if (read.ec != std::errc{} || read.ptr != end) return false;
  }
  if (bits != 32 && bits != 64 && bits != 128 && bits != 256) return false;
  width = bits / 8;
  return scale >= -1000 && scale <= 1000;
}

[[gnu::cold]] void raise_stream_error(ArrowArrayStream& stream, int code,
                                      const char* parameter) noexcept {
  const char* message = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
  PyErr_Format(PyExc_RuntimeError, "argument '%s': the Arrow stream failed: %s", parameter,
               message != nullptr ? message : std::strerror(code));
}

// The struct a capsule of the PyCapsule interface holds, or null with an
// exception set when it holds none or was consumed already.
template <class Struct>
Struct* capsule_struct(PyObject* capsule, const char* name, const char* parameter) noexcept {
  auto* held = static_cast<Struct*>(PyCapsule_GetPointer(capsule, name));
  if (held == nullptr) return nullptr;
  if (held->release == nullptr) [[unlikely]] {
    PyErr_Format(PyExc_ValueError, "argument '%s': the Arrow %s was released already", parameter,
                 name);
    return nullptr;
  }
  return held;
}

// Moves a struct out of its producer's capsule: the capsule's destructor then
// finds it released, and the release is the taker's.
template <class Struct>
void move_out(Struct& to, Struct* from) noexcept {
  to = *from;
  from->release = nullptr;
}

}  // namespace

ArrowColumn::~ArrowColumn() {
  for (Py_ssize_t i = 0; i < count_; ++i) {
    if (arrays_[i].release != nullptr) arrays_[i].release(&arrays_[i]);
  }
  PyMem_Free(arrays_);
  if (schema_.release != nullptr) schema_.release(&schema_);
}

namespace {

// The exporting method `name` of `object`: 1 and `method` set, 0 where it
// has none (or sets it to None, as a class that opts out does), -1 with an
// exception set.
int exporter(PyObject* object, const char* name, PyObject*& method) noexcept {
  if (PyObject_GetOptionalAttrString(object, name, &method) < 0) return -1;
  if (method == Py_None) Py_CLEAR(method);
  return method != nullptr ? 1 : 0;
}

// The capsules a method gives, called with no requested schema.
PyObject* exported(PyObject* method) noexcept {
  PyObject* capsules = PyObject_CallNoArgs(method);
  Py_DECREF(method);
  return capsules;
}

}  // namespace

int ArrowColumn::take(PyObject* object, const char* parameter) noexcept {
  PyObject* method = nullptr;
  bool taken = false;
  if (const int found = exporter(object, "__arrow_c_array__", method); found != 0) {
    if (found < 0) return -1;
    PyObject* pair = exported(method);
    taken = pair != nullptr && take_array(pair, object, parameter);
    Py_XDECREF(pair);
  } else {
    if (const int streams = exporter(object, "__arrow_c_stream__", method); streams <= 0) {
      return streams;
    }
    PyObject* capsule = exported(method);
    taken = capsule != nullptr && take_stream(capsule, object, parameter);
    Py_XDECREF(capsule);
  }
  return taken && check_arrays(object, parameter) ? 1 : -1;
}

bool ArrowColumn::check_arrays(PyObject* object, const char* parameter) const noexcept {
  // A producer's arrays are read without further checks: what the type
  // promises must be there, or the reads would leave the buffers.
  const std::int64_t buffers = kind_ == 'n' ? 0 : 2;
  for (Py_ssize_t c = 0; c < count_; ++c) {
    const ArrowArray& array = arrays_[c];
    const bool sound = array.length >= 0 && array.offset >= 0 && array.null_count >= -1 &&
                       array.n_buffers == buffers &&
                       (buffers == 0 || array.length == 0 || array.buffers[1] != nullptr);
    if (!sound) [[unlikely]] {
      PyErr_Format(PyExc_ValueError,
                   "argument '%s': '%T' exported a malformed Arrow array (chunk %zd: length "
                   "%lld, offset %lld, %lld buffers)",
                   parameter, object, c, static_cast<long long>(array.length),
                   static_cast<long long>(array.offset), static_cast<long long>(array.n_buffers));
      return false;
    }
  }
  return true;
}

bool ArrowColumn::take_array(PyObject* pair, PyObject* object, const char* parameter) noexcept {
  if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': %T.__arrow_c_array__() gave %T, not a pair of capsules",
                 parameter, object, pair);
    return false;
  }
  auto* schema = capsule_struct<ArrowSchema>(PyTuple_GET_ITEM(pair, 0), "arrow_schema", parameter);
  if (schema == nullptr) return false;
  auto* array = capsule_struct<ArrowArray>(PyTuple_GET_ITEM(pair, 1), "arrow_array", parameter);
  if (array == nullptr) return false;
  move_out(schema_, schema);
  ArrowArray taken;
  move_out(taken, array);
  return add(taken) && read_type(object, parameter);
}

bool ArrowColumn::take_stream(PyObject* capsule, PyObject* object, const char* parameter) noexcept {
  auto* held = capsule_struct<ArrowArrayStream>(capsule, "arrow_array_stream", parameter);
  if (held == nullptr) return false;
  ArrowArrayStream stream;
  move_out(stream, held);
  bool taken = true;
  if (const int code = stream.get_schema(&stream, &schema_); code != 0) {
    raise_stream_error(stream, code, parameter);
    taken = false;
  }
  taken = taken && read_type(object, parameter);
  // The arrays a stream gives live on after it is released.
  while (taken) {
    ArrowArray array{};
    if (const int code = stream.get_next(&stream, &array); code != 0) {
      raise_stream_error(stream, code, parameter);
      taken = false;
    } else if (array.release == nullptr) {
      break;
    } else {
      taken = add(array);
    }
  }
  stream.release(&stream);
  return taken;
}

bool ArrowColumn::add(ArrowArray& array) noexcept {
  if (count_ == capacity_) {
    const Py_ssize_t capacity = capacity_ == 0 ? 4 : capacity_ * 2;
    auto* grown = static_cast<ArrowArray*>(
        PyMem_Realloc(arrays_, static_cast<std::size_t>(capacity) * sizeof(ArrowArray)));
    if (grown == nullptr) {
      array.release(&array);
      PyErr_NoMemory();
      return false;
    }
    arrays_ = grown;
    capacity_ = capacity;
  }
  arrays_[count_++] = array;
  size_ += static_cast<Py_ssize_t>(array.length);
  return true;
}

bool ArrowColumn::read_type(PyObject* object, const char* parameter) noexcept {
  const char* format = schema_.format != nullptr ? schema_.format : "";
  if (schema_.dictionary != nullptr) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected Arrow numbers, got a dictionary-encoded column from "
                 "'%T'; decode it first",
                 parameter, object);
    return false;
  }
  if (format[0] == '+' && format[1] == 's') [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected one column of numbers, got a table of %lld columns "
                 "('%T'); pass one column, such as frame['close']",
                 parameter, static_cast<long long>(schema_.n_children), object);
    return false;
  }
  for (const NumberFormat& number : kNumberFormats) {
    if (std::strcmp(format, number.format) == 0) {
      kind_ = number.code;
      width_ = number.width;
      return true;
    }
  }
  if (std::strcmp(format, "b") == 0 || std::strcmp(format, "n") == 0) {
    kind_ = format[0] == 'b' ? '?' : 'n';
    return true;
  }
  if (parse_decimal(format, scale_, width_)) {
    kind_ = 'D';
    return true;
  }
  PyErr_Format(PyExc_TypeError,
               "argument '%s': expected Arrow numbers (float64, float32, float16, integers, "
               "bools or decimals), got Arrow format '%s' from '%T'",
               parameter, format, object);
  return false;
}

bool ArrowColumn::is_float64() const noexcept { return kind_ == 'd'; }

Py_ssize_t ArrowColumn::first_null() const noexcept {
  Py_ssize_t before = 0;
  for (Py_ssize_t c = 0; c < count_; ++c) {
    const ArrowArray& array = arrays_[c];
    for (std::int64_t i = 0; i < array.length && (kind_ == 'n' || array.null_count != 0); ++i) {
      if (is_null(array, i, kind_)) return before + static_cast<Py_ssize_t>(i);
    }
    before += static_cast<Py_ssize_t>(array.length);
  }
  return -1;
}

DenseChunk ArrowColumn::chunk(Py_ssize_t index) const noexcept {
  const ArrowArray& array = arrays_[index];
  // An empty chunk may come without its buffer.
  if (array.length == 0) return DenseChunk{};
  const char* values = static_cast<const char*>(array.buffers[1]);
  return DenseChunk{values + array.offset * static_cast<std::int64_t>(sizeof(double)),
                    static_cast<Py_ssize_t>(array.length)};
}

bool ArrowColumn::convert(double* out) const noexcept {
  PyObject* power = nullptr;
  if (kind_ == 'D') {
    PyObject* ten = PyLong_FromLong(10);
    PyObject* exponent = ten == nullptr ? nullptr : PyLong_FromLong(std::abs(scale_));
    power = exponent == nullptr ? nullptr : PyNumber_Power(ten, exponent, Py_None);
    Py_XDECREF(ten);
    Py_XDECREF(exponent);
    if (power == nullptr) return false;
  }
  bool converted = true;
  for (Py_ssize_t c = 0; converted && c < count_; ++c) {
    const ArrowArray& array = arrays_[c];
    const char* values = kind_ == 'n' ? nullptr : static_cast<const char*>(array.buffers[1]);
    for (std::int64_t i = 0; i < array.length; ++i) {
      const std::int64_t at = array.offset + i;
      double value = kNaN;
      if (is_null(array, i, kind_)) {
        // NaN, as asked: a null refused was refused before the copy.
      } else if (kind_ == '?') {
        value = bit_is_set(values, at) ? 1.0 : 0.0;
      } else if (kind_ == 'D') {
        value = decimal_value(values + at * width_, width_, scale_, power);
        if (value == -1.0 && PyErr_Occurred()) {
          converted = false;
          break;
        }
      } else {
        value = read_cell(values + at * width_, width_, CellFormat{kind_, false});
      }
      *out++ = value;
    }
  }
  Py_XDECREF(power);
  return converted;
}

}  // namespace barworks::companion
