// Checkpoints: the stored form of every class's record, generated from the
// Checkpoint<R> lists that stand next to the records (src/checkpoint.h).
// Nothing here includes the interpreter's headers, so a fuzzer can drive the
// loader directly.
//
// Stored form, version 2. Every integer and double is little-endian.
//   magic           4 bytes, "BWCK"
//   format version  2 bytes, unsigned: 2 when written; 1 and 2 are read
//   class name      1 byte length L, then L bytes: the Python class name,
//                   qualified by its module outside _barworks
//                   ("SimpleMovingAverage", "barworks.classic.RateOfChange")
//   fields          the class's list in order, embedded records inline:
//                     number             8 bytes, the double's bits
//                     choice             1 byte
//                     tally, period,
//                     below              4 bytes, unsigned
//                     whole              8 bytes, two's complement
//                     values             4 bytes length n, then n numbers
//                     derived, rebuilt,
//                     rule               nothing (recomputed or checked)
// and nothing after the last field.
//
// Version 2 changed barworks.classic.StandardDeviation's fields only; every
// other class's fields are the same in both. A string of an earlier version
// is read by the list its record had then (Checkpoint<R>::Former) and
// upgraded, so stored checkpoints keep loading.
//
// Loading reads the whole string twice: the first pass checks every field,
// bound, length and rule against a value-initialised record without
// allocating; only when all of it holds does the second pass allocate the
// windows and fill them. A refused string never yields a part-built record.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "../checkpoint.h"
#include "../classes.h"
#include "../classic/classes.h"
#include "../window.h"

namespace barworks::checkpoint {

inline constexpr std::array<unsigned char, 4> kMagic{'B', 'W', 'C', 'K'};
inline constexpr std::uint16_t kFormatVersion = 2;
inline constexpr std::uint16_t kOldestVersion = 1;

// Every class that has a stored form: _barworks's and barworks.classic's,
// each in its module's registration order.
using Stored = decltype(ModuleClasses{} + classic::Classes{});

// The name a class is stored under: its Python name, qualified by its module
// for classes outside _barworks, so that barworks.classic's RateOfChange is
// never read as _barworks's.
template <class Record>
constexpr std::size_t stored_name_length() noexcept {
  std::size_t length = std::char_traits<char>::length(PythonClass<Record>::kName);
  if constexpr (requires { PythonClass<Record>::kModule; }) {
    length += std::char_traits<char>::length(PythonClass<Record>::kModule) + 1;
  }
  return length;
}

template <class Record>
inline constexpr auto kStoredNameText = [] {
  std::array<char, stored_name_length<Record>() + 1> text{};
  std::size_t at = 0;
  const auto append = [&](const char* piece) {
    while (*piece != '\0') text[at++] = *piece++;
  };
  if constexpr (requires { PythonClass<Record>::kModule; }) {
    append(PythonClass<Record>::kModule);
    append(".");
  }
  append(PythonClass<Record>::kName);
  return text;
}();

// The stored name as text, and its length in the one-byte header field.
template <class Record>
inline constexpr const char* kStoredName = kStoredNameText<Record>.data();
template <class Record>
inline constexpr std::string_view kStoredNameView{kStoredName<Record>, stored_name_length<Record>()};

template <class... Records>
constexpr bool names_fit(ClassList<Records...>) {
  return ((stored_name_length<Records>() < 256) && ...);
}
static_assert(names_fit(Stored{}), "a stored class name must fit its one-byte length");

template <class... Records>
constexpr bool all_checkpointed(ClassList<Records...>) {
  return (Checkpointed<Records> && ...);
}
static_assert(all_checkpointed(Stored{}), "every stored class must list its checkpoint fields");

template <class... Records>
constexpr bool all_list_every_member(ClassList<Records...>) {
  return (checkpoint_layout::lists_every_member_throughout<Records>() && ...);
}
static_assert(all_list_every_member(Stored{}),
              "a checkpoint list must name every member of its record, in declaration order");

template <class Record>
constexpr bool upgrades_from_a_version_read() {
  if constexpr (Upgradable<Record>) {
    return Checkpoint<Record>::kSince > kOldestVersion &&
           Checkpoint<Record>::kSince <= kFormatVersion;
  }
  return true;
}
template <class... Records>
constexpr bool versions_fit(ClassList<Records...>) {
  return (upgrades_from_a_version_read<Records>() && ...);
}
static_assert(versions_fit(Stored{}),
              "a list that changed must begin after the oldest version read, and by the written one");

// What a refused string was refused for, in words.
struct Fault {
  char text[240] = {};
};

enum class Outcome : std::uint8_t { kLoaded, kInvalid, kNoMemory, kTooLarge };

// ---------------------------------------------------------------------------
// Writing.

// Counts the bytes when `at` is null, else writes them.
class Writer {
 public:
  explicit Writer(unsigned char* at) noexcept : at_(at) {}
  void u8(std::uint8_t value) noexcept { put(value, 1); }
  void u16(std::uint16_t value) noexcept { put(value, 2); }
  void u32(std::uint32_t value) noexcept { put(value, 4); }
  void i64(std::int64_t value) noexcept { put(static_cast<std::uint64_t>(value), 8); }
  void f64(double value) noexcept { put(std::bit_cast<std::uint64_t>(value), 8); }
  void raw(const void* data, std::size_t size) noexcept {
    if (at_ != nullptr) std::memcpy(at_ + written_, data, size);
    written_ += size;
  }
  std::size_t written() const noexcept { return written_; }

 private:
  void put(std::uint64_t value, int bytes) noexcept {
    if (at_ != nullptr) {
      for (int i = 0; i < bytes; ++i) at_[written_ + i] = static_cast<unsigned char>(value >> (8 * i));
    }
    written_ += static_cast<std::size_t>(bytes);
  }

  unsigned char* at_;
  std::size_t written_ = 0;
};

template <Checkpointed Record>
void write_record(Writer& writer, const Record& record) noexcept;

template <auto M, class R>
void write_field(Writer& w, const R& r, const Number<M>&) noexcept {
  w.f64(r.*M);
}
template <auto M, class R>
void write_field(Writer& w, const R& r, const Choice<M>&) noexcept {
  w.u8(static_cast<std::uint8_t>(r.*M));
}
template <auto M, class R>
void write_field(Writer& w, const R& r, const Tally<M>&) noexcept {
  w.u32(r.*M);
}
template <auto M, class R>
void write_field(Writer& w, const R& r, const Whole<M>&) noexcept {
  w.i64(r.*M);
}
template <auto M, class R>
void write_field(Writer& w, const R& r, const Period<M>&) noexcept {
  w.u32(r.*M);
}
template <auto M, auto Limit, class R>
void write_field(Writer& w, const R& r, const Below<M, Limit>&) noexcept {
  // Slots and counts lie below a window length, itself below 2^28.
  w.u32(static_cast<std::uint32_t>(r.*M));
}
template <auto M, auto Length, auto Slot, class R>
void write_field(Writer& w, const R& r, const Values<M, Length, Slot>&) noexcept {
  const Window& window = r.*M;
  w.u32(window.size());
  for (const double value : window) w.f64(value);
}
template <auto M, class R>
void write_field(Writer& w, const R& r, const Component<M>&) noexcept {
  write_record(w, r.*M);
}
template <auto M, auto F, class R>
void write_field(Writer&, const R&, const Derived<M, F>&) noexcept {}
template <auto M, auto F, class R>
void write_field(Writer&, const R&, const Rebuilt<M, F>&) noexcept {}
template <class R>
void write_field(Writer&, const R&, const Rule<R>&) noexcept {}

template <Checkpointed Record>
void write_record(Writer& writer, const Record& record) noexcept {
  std::apply([&](const auto&... field) { (write_field(writer, record, field), ...); },
             Checkpoint<Record>::kFields);
}

// The whole stored form of `record`, class name first. With a null `out`
// only the size is counted.
template <Checkpointed Record>
std::size_t store(const Record& record, std::string_view class_name, unsigned char* out) noexcept {
  Writer writer(out);
  writer.raw(kMagic.data(), kMagic.size());
  writer.u16(kFormatVersion);
  writer.u8(static_cast<std::uint8_t>(class_name.size()));
  writer.raw(class_name.data(), class_name.size());
  write_record(writer, record);
  return writer.written();
}

// ---------------------------------------------------------------------------
// Reading.

class Loader {
 public:
  Loader(const unsigned char* data, std::size_t size, std::uint16_t version, const char* class_name,
         bool build) noexcept
      : at_(data), end_(data + size), class_name_(class_name), version_(version), build_(build) {}

  bool building() const noexcept { return build_; }
  std::uint16_t version() const noexcept { return version_; }
  std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - at_); }

  bool u8(std::uint8_t& value) noexcept { return take(value, 1); }
  bool u32(std::uint32_t& value) noexcept { return take(value, 4); }
  bool i64(std::int64_t& value) noexcept {
    std::uint64_t bits;
    if (!take(bits, 8)) return false;
    value = static_cast<std::int64_t>(bits);
    return true;
  }
  bool f64(double& value) noexcept {
    std::uint64_t bits;
    if (!take(bits, 8)) return false;
    value = std::bit_cast<double>(bits);
    return true;
  }
  // Passes over `count` doubles, or reads them into `out` when it is given.
  bool numbers(std::uint32_t count, Window* out) noexcept {
    if (remaining() / 8 < count) return truncated();
    for (std::uint32_t i = 0; i < count; ++i) {
      double value;
      (void)f64(value);
      if (out != nullptr) (*out)[i] = value;
    }
    return true;
  }

  // The dotted path of the field being read, for messages.
  void enter(const char* name) noexcept {
    if (depth_ < kDeepest) path_[depth_] = name;
    ++depth_;
  }
  void leave() noexcept { --depth_; }

  template <class... Values>
  [[gnu::cold]] bool refuse(const char* format, Values... values) noexcept {
    char path[96] = {};
    std::size_t at = 0;
    for (std::size_t i = 0; i < depth_ && i < kDeepest; ++i) {
      const int wrote = std::snprintf(path + at, sizeof path - at, "%s%s", i == 0 ? "" : ".", path_[i]);
      if (wrote > 0) at = std::min(sizeof path - 1, at + static_cast<std::size_t>(wrote));
    }
    // "<class> checkpoint: <path> <what is wrong>", where a rule's text
    // follows the path after a colon, or stands alone at the top.
    const bool top = depth_ == 0;
    const bool after_colon = format[0] == ':';
    if (after_colon) format += top ? 2 : 0;
    int wrote = std::snprintf(fault.text, sizeof fault.text, "%s checkpoint: %s%s", class_name_,
                              path, top || after_colon ? "" : " ");
    if (wrote < 0) wrote = 0;
    const std::size_t used = std::min(sizeof fault.text - 1, static_cast<std::size_t>(wrote));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    std::snprintf(fault.text + used, sizeof fault.text - used, format, values...);
#pragma GCC diagnostic pop
    return false;
  }
  [[gnu::cold]] bool truncated() noexcept { return refuse("is cut short: the string is truncated"); }

  Fault fault;
  bool out_of_memory = false;
  bool too_large = false;

 private:
  template <class T>
  bool take(T& value, int bytes) noexcept {
    if (remaining() < static_cast<std::size_t>(bytes)) return truncated();
    std::uint64_t assembled = 0;
    for (int i = 0; i < bytes; ++i) assembled |= std::uint64_t{at_[i]} << (8 * i);
    at_ += bytes;
    value = static_cast<T>(assembled);
    return true;
  }

  static constexpr std::size_t kDeepest = 4;
  const unsigned char* at_;
  const unsigned char* end_;
  const char* class_name_;
  std::uint16_t version_;
  bool build_;
  std::array<const char*, kDeepest> path_{};
  std::size_t depth_ = 0;
};

// Names one field in messages for the time it is read.
class Entered {
 public:
  Entered(Loader& loader, const char* name) noexcept : loader_(loader) { loader_.enter(name); }
  ~Entered() { loader_.leave(); }
  Entered(const Entered&) = delete;
  Entered& operator=(const Entered&) = delete;

 private:
  Loader& loader_;
};

template <Checkpointed Record>
bool read_record(Loader& loader, Record& record) noexcept;

template <auto M, class R>
bool read_field(Loader& l, R& r, const Number<M>& field) noexcept {
  Entered entered(l, field.name);
  return l.f64(r.*M);
}
template <auto M, class R>
bool read_field(Loader& l, R& r, const Choice<M>& field) noexcept {
  Entered entered(l, field.name);
  std::uint8_t value;
  if (!l.u8(value)) return false;
  if (value > field.largest) {
    return l.refuse("is %u; it must be from 0 to %u", unsigned{value}, unsigned{field.largest});
  }
  r.*M = static_cast<std::remove_cvref_t<decltype(r.*M)>>(value);
  return true;
}
template <auto M, class R>
bool read_field(Loader& l, R& r, const Tally<M>& field) noexcept {
  Entered entered(l, field.name);
  return l.u32(r.*M);
}
template <auto M, class R>
bool read_field(Loader& l, R& r, const Whole<M>& field) noexcept {
  Entered entered(l, field.name);
  return l.i64(r.*M);
}
template <auto M, class R>
bool read_field(Loader& l, R& r, const Period<M>& field) noexcept {
  Entered entered(l, field.name);
  std::uint32_t value;
  if (!l.u32(value)) return false;
  if (value == 0) return l.refuse("is 0; a period is at least 1");
  if (field.limit != 0 && value >= field.limit) {
    return l.refuse("is %u, at or past the window limit %u", value, field.limit);
  }
  r.*M = value;
  return true;
}
template <auto M, auto Limit, class R>
bool read_field(Loader& l, R& r, const Below<M, Limit>& field) noexcept {
  Entered entered(l, field.name);
  std::uint32_t value;
  if (!l.u32(value)) return false;
  const std::uint64_t limit = std::uint64_t{r.*Limit} + field.slack;
  if (value >= limit) {
    return l.refuse("is %u; it must be at most %llu", value,
                    static_cast<unsigned long long>(limit - 1));
  }
  r.*M = value;
  return true;
}
template <auto M, auto Length, auto Slot, class R>
bool read_field(Loader& l, R& r, const Values<M, Length, Slot>& field) noexcept {
  Entered entered(l, field.name);
  std::uint32_t count;
  if (!l.u32(count)) return false;
  const std::uint32_t length = r.*Length;
  if (count != length) return l.refuse("holds %u values for a period of %u", count, length);
  if (!l.building()) return l.numbers(count, nullptr);
  auto window = Window::allocate(count, 0.0);
  if (!window) {
    // Bounds were checked in the first pass, so only memory can be short;
    // a refused size is still reported as what it is.
    (window.error().kind == ErrorKind::kMemory ? l.out_of_memory : l.too_large) = true;
    return false;
  }
  // The member still holds the empty window of the value-initialised
  // record (windows are moved into place, never assigned).
  Window& member = r.*M;
  std::destroy_at(&member);
  std::construct_at(&member, std::move(*window));
  return l.numbers(count, &member);
}
template <auto M, class R>
bool read_field(Loader& l, R& r, const Component<M>& field) noexcept {
  Entered entered(l, field.name);
  return read_record(l, r.*M);
}
template <auto M, auto F, class R>
bool read_field(Loader&, R& r, const Derived<M, F>&) noexcept {
  r.*M = (r.*F)();
  return true;
}
// Built only with the windows it is rebuilt from, on the second pass.
template <auto M, auto F, class R>
bool read_field(Loader& l, R& r, const Rebuilt<M, F>&) noexcept {
  if (!l.building() || (r.*F)()) return true;
  l.out_of_memory = true;
  return false;
}
template <class R>
bool read_field(Loader& l, R& r, const Rule<R>& rule) noexcept {
  if (rule.holds(r)) return true;
  return l.refuse(": %s", rule.meaning);
}

// After an upgrade: what a record's list derives is derived again and its
// rules are checked, as if the record had been read by its own list.
template <Checkpointed Record>
bool settle(Loader& loader, Record& record) noexcept;

template <class Field, class R>
bool settle_field(Loader&, R&, const Field&) noexcept {
  return true;
}
template <auto M, class R>
bool settle_field(Loader& l, R& r, const Component<M>& field) noexcept {
  Entered entered(l, field.name);
  return settle(l, r.*M);
}
template <auto M, auto F, class R>
bool settle_field(Loader& l, R& r, const Derived<M, F>& field) noexcept {
  return read_field(l, r, field);
}
template <auto M, auto F, class R>
bool settle_field(Loader& l, R& r, const Rebuilt<M, F>& field) noexcept {
  return read_field(l, r, field);
}
template <class R>
bool settle_field(Loader& l, R& r, const Rule<R>& rule) noexcept {
  return read_field(l, r, rule);
}

template <Checkpointed Record>
bool settle(Loader& loader, Record& record) noexcept {
  return std::apply(
      [&](const auto&... field) { return (settle_field(loader, record, field) && ...); },
      Checkpoint<Record>::kFields);
}

template <Checkpointed Record>
bool read_record(Loader& loader, Record& record) noexcept {
  if constexpr (Upgradable<Record>) {
    if (loader.version() < Checkpoint<Record>::kSince) {
      // Checked by the former list; built from it only once all of it holds.
      typename Checkpoint<Record>::Former former{};
      if (!read_record(loader, former)) return false;
      if (!loader.building()) return true;
      std::destroy_at(&record);
      std::construct_at(&record, Checkpoint<Record>::upgrade(std::move(former)));
      return settle(loader, record);
    }
  }
  return std::apply([&](const auto&... field) { return (read_field(loader, record, field) && ...); },
                    Checkpoint<Record>::kFields);
}

// Loads the fields of a `Record` (what follows the header) written in
// format `version` into `record`, which must be value-initialised. On
// kInvalid `fault` says why.
template <Checkpointed Record>
Outcome load(const unsigned char* fields, std::size_t size, std::uint16_t version,
             const char* class_name, Record& record, Fault& fault) noexcept {
  Loader check(fields, size, version, class_name, false);
  if (!read_record(check, record)) {
    fault = check.fault;
    return Outcome::kInvalid;
  }
  if (check.remaining() != 0) {
    check.refuse("has %zu bytes after its last field", check.remaining());
    fault = check.fault;
    return Outcome::kInvalid;
  }
  Loader build(fields, size, version, class_name, true);
  if (read_record(build, record)) return Outcome::kLoaded;
  if (build.out_of_memory) return Outcome::kNoMemory;
  if (build.too_large) return Outcome::kTooLarge;
  fault = build.fault;
  return Outcome::kInvalid;
}

// Raises what kept a load from building its record (ValueError with the
// fault, MemoryError, the capacity fault); true when it was built. Defined
// in state.cpp, beside the interpreter.
bool raise_unless_loaded(Outcome outcome, const Fault& fault) noexcept;

// The header of a stored form: its class name and where the fields start.
struct Header {
  std::uint16_t version;
  std::string_view class_name;
  const unsigned char* fields;
  std::size_t size;
};

// Reads the magic, version and class name; false with `fault` set when any
// of them is wrong.
inline bool read_header(const unsigned char* data, std::size_t size, Header& header,
                        Fault& fault) noexcept {
  constexpr std::size_t kFixed = kMagic.size() + 2 + 1;
  if (size < kFixed || std::memcmp(data, kMagic.data(), kMagic.size()) != 0) {
    std::snprintf(fault.text, sizeof fault.text, "not a barworks checkpoint");
    return false;
  }
  const unsigned version = unsigned{data[4]} | unsigned{data[5]} << 8;
  if (version < kOldestVersion || version > kFormatVersion) {
    std::snprintf(fault.text, sizeof fault.text,
                  "checkpoint format version %u is not supported (this build reads versions %u "
                  "to %u)",
                  version, unsigned{kOldestVersion}, unsigned{kFormatVersion});
    return false;
  }
  const std::size_t name_length = data[6];
  if (size - kFixed < name_length) {
    std::snprintf(fault.text, sizeof fault.text, "checkpoint is truncated inside its class name");
    return false;
  }
  header.version = static_cast<std::uint16_t>(version);
  header.class_name = {reinterpret_cast<const char*>(data + kFixed), name_length};
  header.fields = data + kFixed + name_length;
  header.size = size - kFixed - name_length;
  return true;
}

// The message for a class name that no stored class has. Names are printed
// only when they are plain (dotted) identifiers.
[[gnu::cold]] inline void refuse_class(std::string_view name, Fault& fault) noexcept {
  const bool printable = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.';
  });
  if (printable) {
    std::snprintf(fault.text, sizeof fault.text, "checkpoint of unknown class '%.*s'",
                  static_cast<int>(name.size()), name.data());
  } else {
    std::snprintf(fault.text, sizeof fault.text, "checkpoint of unknown class (a %zu-byte name)",
                  name.size());
  }
}

// Calls `visit.template operator()<R>()` for the stored class named `name`;
// false when no class has that name.
template <class Visit, class... Records>
bool visit_class(std::string_view name, Visit&& visit, ClassList<Records...>) noexcept {
  return ((name == kStoredNameView<Records> ? (visit.template operator()<Records>(), true)
                                            : false) ||
          ...);
}
template <class Visit>
bool visit_class(std::string_view name, Visit&& visit) noexcept {
  return visit_class(name, std::forward<Visit>(visit), Stored{});
}

}  // namespace barworks::checkpoint
