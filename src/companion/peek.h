// The answer next would give, with the object left exactly as it was: for
// the bar that is still forming.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "classes.h"

namespace barworks::companion {

template <class Record>
class Snapshot;

template <auto Member>
struct MemberOf;
template <class Class, class Type, Type Class::* Member>
struct MemberOf<Member> {
  using type = Type;
};

// One field as it was: a scalar's value, an embedded record's own snapshot,
// and of a window only the slot one step writes.
template <auto Member>
struct FieldCopy {
  typename MemberOf<Member>::type value;
  template <class R>
  void restore(R& record) const noexcept { record.*Member = value; }
};
template <auto Member>
struct ComponentCopy {
  Snapshot<typename MemberOf<Member>::type> saved;
  template <class R>
  void restore(R& record) const noexcept { saved.restore(record.*Member); }
};
template <auto Member>
struct SlotCopy {
  std::uint32_t slot;
  double value;
  template <class R>
  void restore(R& record) const noexcept { (record.*Member)[slot] = value; }
};
template <auto Member>
struct MarkCopy {
  decltype(std::declval<const typename MemberOf<Member>::type&>().mark()) mark;
  template <class R>
  void restore(R& record) const noexcept { (record.*Member).rewind(mark); }
};
struct NothingToCopy {
  template <class R>
  void restore(R&) const noexcept {}
};

template <auto M, class R>
FieldCopy<M> save(const R& r, const Number<M>&) noexcept { return {r.*M}; }
template <auto M, class R>
FieldCopy<M> save(const R& r, const Choice<M>&) noexcept { return {r.*M}; }
template <auto M, class R>
FieldCopy<M> save(const R& r, const Tally<M>&) noexcept { return {r.*M}; }
template <auto M, class R>
FieldCopy<M> save(const R& r, const Whole<M>&) noexcept { return {r.*M}; }
template <auto M, class R>
FieldCopy<M> save(const R& r, const Period<M>&) noexcept { return {r.*M}; }
template <auto M, auto L, class R>
FieldCopy<M> save(const R& r, const Below<M, L>&) noexcept { return {r.*M}; }
template <auto M, auto F, class R>
FieldCopy<M> save(const R& r, const Derived<M, F>&) noexcept { return {r.*M}; }
template <auto M, auto F, class R>
MarkCopy<M> save(const R& r, const Rebuilt<M, F>&) noexcept { return {(r.*M).mark()}; }
template <auto M, class R>
ComponentCopy<M> save(const R& r, const Component<M>&) noexcept { return {Snapshot(r.*M)}; }
template <auto M, auto L, auto S, class R>
SlotCopy<M> save(const R& r, const Values<M, L, S>&) noexcept {
  const auto slot = static_cast<std::uint32_t>(r.*S);
  return {slot, (r.*M)[slot]};
}
template <class R>
NothingToCopy save(const R&, const Rule<R>&) noexcept { return {}; }

// What a record's update may change, saved before a step and put back
// after: every field of its checkpoint list (which names every member) and,
// of each window, the one slot a step writes, of each rebuilt queue its
// mark; so a peek costs one update and never copies a window.
template <class Record>
class Snapshot {
 public:
  explicit Snapshot(const Record& record) noexcept : saved_(save_all(record)) {}
  void restore(Record& record) const noexcept {
    std::apply([&](const auto&... field) { (field.restore(record), ...); }, saved_);
  }

 private:
  static auto save_all(const Record& record) noexcept {
    return std::apply([&](const auto&... field) { return std::tuple{save(record, field)...}; },
                      Checkpoint<Record>::kFields);
  }
  static_assert(checkpoint_layout::lists_every_member<Record>(),
                "a snapshot restores the fields the checkpoint list names, which must be all");
  decltype(save_all(std::declval<const Record&>())) saved_;
};

// peek(indicator, value), or peek(indicator, x, y) for a pair class
PyObject* peek(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) noexcept;
// peek_bar(indicator, bar)
PyObject* peek_bar(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept;
}  // namespace barworks::companion
