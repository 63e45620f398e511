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
//   period<&R::m>("m", limit)        1 <= m, and m < limit unless limit is 0
//   below<&R::m, &R::n>("m", slack)  m < n + slack
//   values<&R::w, &R::n>("w")        a Window whose length equals n
//   part<&R::m>("m")                 an embedded record, by its own list
//   derived<&R::m, &R::f>()          m = f(), recomputed on load, not stored
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

template <auto Member, auto Length>
struct Values {
  const char* name;
};
template <auto Member, auto Length>
constexpr Values<Member, Length> values(const char* name) {
  return {name};
}

template <auto Member>
struct Part {
  const char* name;
};
template <auto Member>
constexpr Part<Member> part(const char* name) {
  return {name};
}

template <auto Member, auto Function>
struct Derived {};
template <auto Member, auto Function>
constexpr Derived<Member, Function> derived() {
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
constexpr Extent extent(const Period<M>&) { return extent_of(M); }
template <auto M, auto L>
constexpr Extent extent(const Below<M, L>&) { return extent_of(M); }
template <auto M, auto L>
constexpr Extent extent(const Values<M, L>&) { return extent_of(M); }
template <auto M>
constexpr Extent extent(const Part<M>&) { return extent_of(M); }
template <auto M, auto F>
constexpr Extent extent(const Derived<M, F>&) { return extent_of(M); }
template <class R>
constexpr Extent extent(const Rule<R>&) { return {0, 1}; }

template <class Record>
constexpr std::size_t listed_size() {
  return std::apply(
      [](const auto&... field) {
        std::size_t at = 0;
        std::size_t widest = 1;
        for (const Extent e : {extent(field)...}) {
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
  return listed_size<Record>() == sizeof(Record);
}

}  // namespace barworks::checkpoint_layout
