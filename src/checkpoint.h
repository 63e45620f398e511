// The vocabulary in which a record lists what a checkpoint of it holds. The
// companion's state module generates dump, validation and load from these
// lists, as the frame generates class objects from describe.h; records state
// them without touching the interpreter.
//
// A record R that can be checkpointed specialises Checkpoint<R> with
//   kFields  a std::tuple of the entries below, in stored order.
// Every member that carries state must appear, either stored or derived; an
// entry whose bound names another member must come after that member.
//   number<&R::m>("m")               a double, any value
//   choice<&R::m>("m", largest)      a flag or enumeration code, 0..largest
//   tally<&R::m>("m")                an unsigned 32-bit count with no bound
//   whole<&R::m>("m")                a signed 64-bit integer, any value
//   period<&R::m>("m", limit)        1 <= m, and m < limit unless limit is 0
//   below<&R::m, &R::n>("m", slack)  m < n + slack
//   values<&R::w, &R::n, &R::i>("w") a Window whose length equals n, of which
//                                    one step writes only slot i
//   component<&R::m>("m")           an embedded record, by its own list
//   derived<&R::m, &R::f>()          m = f(), recomputed on load, not stored
//   rebuilt<&R::m, &R::f>()          m rebuilt in place by f() on load (false:
//                                    memory is short), not stored; a peek keeps
//                                    only m.mark() and puts it back by m.rewind()
//   rule<R>(holds, "what it means")  a relation between members
// A record whose list changed in a later format version also names
//   kSince   that version, the first its list was written in
//   Former   the record an earlier list describes, with a Checkpoint<> of its own
//   upgrade  static R upgrade(Former&&) noexcept, what a former state becomes
// A string older than kSince is read by the former list and upgraded; the
// record's derived members are then derived again and its rules checked.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace barworks {

template <class Record>
struct Checkpoint;

template <class Record>
concept Checkpointed = requires { Checkpoint<Record>::kFields; };

template <class Record>
concept Upgradable =
    Checkpointed<Record> && Checkpointed<typename Checkpoint<Record>::Former> &&
    requires(typename Checkpoint<Record>::Former former) {
      { Checkpoint<Record>::kSince } -> std::convertible_to<std::uint16_t>;
      { Checkpoint<Record>::upgrade(std::move(former)) } noexcept -> std::same_as<Record>;
    };

template <auto Member>
struct Number {
  const char* name;
};
template <auto Member>
constexpr Number<Member> number(const char* name) {
  return {name};
}

template <auto Member>
struct Choice {
  const char* name;
  std::uint8_t largest;
};
template <auto Member>
constexpr Choice<Member> choice(const char* name, std::uint8_t largest) {
  return {name, largest};
}

template <auto Member>
struct Tally {
  const char* name;
};
template <auto Member>
constexpr Tally<Member> tally(const char* name) {
  return {name};
}

template <auto Member>
struct Whole {
  const char* name;
};
template <auto Member>
constexpr Whole<Member> whole(const char* name) {
  return {name};
}

template <auto Member>
struct Period {
  const char* name;
  std::uint32_t limit;  // 0: any positive value
};
template <auto Member>
constexpr Period<Member> period(const char* name, std::uint32_t limit) {
  return {name, limit};
}

template <auto Member, auto Limit>
struct Below {
  const char* name;
  std::uint32_t slack;
};
template <auto Member, auto Limit>
constexpr Below<Member, Limit> below(const char* name, std::uint32_t slack = 0) {
  return {name, slack};
}

template <auto Member, auto Length, auto Slot>
struct Values {
  const char* name;
};
template <auto Member, auto Length, auto Slot>
constexpr Values<Member, Length, Slot> values(const char* name) {
  return {name};
}

template <auto Member>
struct Component {
  const char* name;
};
template <auto Member>
constexpr Component<Member> component(const char* name) {
  return {name};
}

template <auto Member, auto Function>
struct Derived {};
template <auto Member, auto Function>
constexpr Derived<Member, Function> derived() {
  return {};
}

template <auto Member, auto Function>
struct Rebuilt {};
template <auto Member, auto Function>
constexpr Rebuilt<Member, Function> rebuilt() {
  return {};
}

template <class Record>
struct Rule {
  bool (*holds)(const Record&) noexcept;
  const char* meaning;
};
template <class Record>
constexpr Rule<Record> rule(bool (*holds)(const Record&) noexcept, const char* meaning) {
  return {holds, meaning};
}

}  // namespace barworks

namespace barworks::checkpoint_layout {

// The layout a list accounts for: its members laid out in list order with
// their natural alignment. For a list that names every member in declaration
// order this is the record's own size, so a member added to the record and
// not to its list fails a static_assert (unless it fits in former padding).
struct Extent {
  std::size_t size;
  std::size_t align;
};

template <class Class, class Type>
constexpr Extent extent_of(Type Class::*) {
  return {sizeof(Type), alignof(Type)};
}

template <auto M>
constexpr Extent extent(const Number<M>&) { return extent_of(M); }
template <auto M>
constexpr Extent extent(const Choice<M>&) { return extent_of(M); }
template <auto M>
constexpr Extent extent(const Tally<M>&) { return extent_of(M); }
template <auto M>
constexpr Extent extent(const Whole<M>&) { return extent_of(M); }
template <auto M>
constexpr Extent extent(const Period<M>&) { return extent_of(M); }
template <auto M, auto L>
constexpr Extent extent(const Below<M, L>&) { return extent_of(M); }
template <auto M, auto L, auto S>
constexpr Extent extent(const Values<M, L, S>&) { return extent_of(M); }
template <auto M>
constexpr Extent extent(const Component<M>&) { return extent_of(M); }
template <auto M, auto F>
constexpr Extent extent(const Derived<M, F>&) { return extent_of(M); }
template <auto M, auto F>
constexpr Extent extent(const Rebuilt<M, F>&) { return extent_of(M); }
template <class R>
constexpr Extent extent(const Rule<R>&) { return {0, 1}; }

template <class Record>
constexpr std::size_t listed_size() {
  return std::apply(
      [](const auto&... field) {
        std::size_t at = 0;
        std::size_t widest = 1;
        for (const Extent e : std::initializer_list<Extent>{extent(field)...}) {
          if (e.size == 0) continue;
          at = (at + e.align - 1) / e.align * e.align + e.size;
          if (e.align > widest) widest = e.align;
        }
        return (at + widest - 1) / widest * widest;
      },
      Checkpoint<Record>::kFields);
}

// True when the list of `Record` names every member, in declaration order.
template <class Record>
constexpr bool lists_every_member() {
  // A record without state still has a size of one byte.
  if constexpr (std::is_empty_v<Record>) return std::tuple_size_v<decltype(Checkpoint<Record>::kFields)> == 0;
  return listed_size<Record>() == sizeof(Record);
}

// lists_every_member for a record and every record it embeds.
template <class Record>
constexpr bool lists_every_member_throughout();

template <class Field>
constexpr bool embedded_lists_every_member(const Field&) { return true; }
template <class Class, class Type, Type Class::* M>
constexpr bool embedded_lists_every_member(const Component<M>&) {
  return lists_every_member_throughout<Type>();
}

template <class Record>
constexpr bool lists_every_member_throughout() {
  return lists_every_member<Record>() &&
         std::apply([](const auto&... field) { return (embedded_lists_every_member(field) && ...); },
                    Checkpoint<Record>::kFields);
}

// A fingerprint of a record's layout as its list describes it: each field's
// kind, name, size and alignment, embedded records by their own lists. Two
// builds whose records agree field for field agree on it; a field added,
// removed, renamed, reordered or resized changes it.
constexpr std::uint64_t mix(std::uint64_t hash, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    hash ^= (value >> (8 * i)) & 0xFF;
    hash *= 0x100000001B3;
  }
  return hash;
}
constexpr std::uint64_t mix_text(std::uint64_t hash, const char* text) {
  while (*text != '\0') hash = mix(hash, std::uint64_t{static_cast<unsigned char>(*text++)});
  return mix(hash, std::uint64_t{0});
}
constexpr std::uint64_t mix(std::uint64_t hash, char kind, const char* name, Extent extent) {
  return mix(mix(mix(mix_text(hash, name), std::uint64_t{static_cast<unsigned char>(kind)}), extent.size),
             extent.align);
}

template <class Record>
constexpr std::uint64_t fingerprint();

template <auto M>
constexpr std::uint64_t mix_field(std::uint64_t h, const Number<M>& f) { return mix(h, 'n', f.name, extent(f)); }
template <auto M>
constexpr std::uint64_t mix_field(std::uint64_t h, const Choice<M>& f) { return mix(h, 'c', f.name, extent(f)); }
template <auto M>
constexpr std::uint64_t mix_field(std::uint64_t h, const Tally<M>& f) { return mix(h, 't', f.name, extent(f)); }
template <auto M>
constexpr std::uint64_t mix_field(std::uint64_t h, const Whole<M>& f) { return mix(h, 'w', f.name, extent(f)); }
template <auto M>
constexpr std::uint64_t mix_field(std::uint64_t h, const Period<M>& f) { return mix(h, 'p', f.name, extent(f)); }
template <auto M, auto L>
constexpr std::uint64_t mix_field(std::uint64_t h, const Below<M, L>& f) { return mix(h, 'b', f.name, extent(f)); }
template <auto M, auto L, auto S>
constexpr std::uint64_t mix_field(std::uint64_t h, const Values<M, L, S>& f) { return mix(h, 'v', f.name, extent(f)); }
template <class Class, class Type, Type Class::* M>
constexpr std::uint64_t mix_field(std::uint64_t h, const Component<M>& f) {
  return mix(mix(h, 'r', f.name, extent(f)), fingerprint<Type>());
}
template <auto M, auto F>
constexpr std::uint64_t mix_field(std::uint64_t h, const Derived<M, F>& f) { return mix(h, 'd', "", extent(f)); }
template <auto M, auto F>
constexpr std::uint64_t mix_field(std::uint64_t h, const Rebuilt<M, F>& f) { return mix(h, 'q', "", extent(f)); }
template <class R>
constexpr std::uint64_t mix_field(std::uint64_t h, const Rule<R>&) { return h; }

template <class Record>
constexpr std::uint64_t fingerprint() {
  return std::apply(
      [](const auto&... field) {
        std::uint64_t hash = mix(0xCBF29CE484222325, std::uint64_t{sizeof(Record)});
        ((hash = mix_field(hash, field)), ...);
        return hash;
      },
      Checkpoint<Record>::kFields);
}

}  // namespace barworks::checkpoint_layout
