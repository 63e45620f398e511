// Bars of fixed-length time buckets, built from trades or from finer bars.
// One rule serves both barworks.BarBuilder, a piece at a time, and
// barworks.resample, whole columns at a time; nothing here sees the
// interpreter.
#pragma once

#include <cstdint>
#include <limits>

#include "../candle.h"
#include "../checkpoint.h"
#include "../error.h"

namespace barworks {

// What an empty bucket between two trades gives: nothing, or a flat bar at
// the last close with no volume.
enum class Fill : std::uint8_t { kNone, kPrevious };

// A completed bar and the start of its bucket, in nanoseconds since the
// Unix epoch.
struct TimeBar {
  std::int64_t start;
  double open;
  double high;
  double low;
  double close;
  double volume;
};

// Why a piece was not added. The builder is left as it was.
enum class Refusal : std::uint8_t {
  kNone,
  kNaN,       // a price or the volume is NaN
  kLate,      // before the forming bucket, or inside the one flush() closed
  kTooEarly,  // its bucket would start before the earliest int64 nanosecond
  kStopped,   // the sink gave up (an allocation failed)
};

// Buckets are [origin + k * every, origin + (k + 1) * every) for whole k, the
// timestamp's bucket found by floor division, so times before the origin
// fall in buckets of their own. A piece (a trade is a bar whose four prices
// are its price) folds into the forming bucket: its first open, the highest
// high and lowest low (the earlier on a tie), its last close, the sum of
// volumes, in the order pieces arrive; pieces of one bucket may come in any
// order and at equal timestamps. A piece of a later bucket completes the
// forming one. Times are int64 nanoseconds; after the first bucket every
// difference is taken in unsigned arithmetic, exact since a later time
// minus an earlier one always lies below 2^64.
struct BarBuilder {
  std::int64_t every;
  std::int64_t origin;
  Fill fill;
  bool started;  // a bucket has been opened: `bar` is its
  bool forming;  // `bar` holds pieces not yet given out
  TimeBar bar;   // the latest bucket's, so far

  static Expected<BarBuilder> create(std::int64_t every, std::int64_t origin, Fill fill) noexcept {
    if (every <= 0) {
      return std::unexpected(Error{ErrorKind::kValue, "a bucket lasts at least one nanosecond"});
    }
    return BarBuilder{.every = every, .origin = origin, .fill = fill};
  }

  // Adds `piece` at `timestamp`. A piece of a later bucket first hands out
  // what it completes, in order: sink.completed(bar) for the forming bucket,
  // then sink.filled(first, count) for the `count` empty buckets from
  // `first` that fill="previous" fills (see put_flat_bars). A sink that answers
  // false stops the add (kStopped) before anything changed.
  template <class Sink>
  Refusal add(std::int64_t timestamp, const Candle& piece, Sink& sink) noexcept {
    if (any_nan(piece.open, piece.high, piece.low, piece.close, piece.volume)) [[unlikely]] {
      return Refusal::kNaN;
    }
    std::int64_t bucket;
    std::uint64_t gaps = 0;
    if (started) [[likely]] {
      if (timestamp < bar.start) [[unlikely]] return Refusal::kLate;
      // Most pieces fall in the forming bucket: no division for them.
      const std::uint64_t elapsed = since(timestamp);
      if (elapsed < static_cast<std::uint64_t>(every)) {
        if (!forming) [[unlikely]] return Refusal::kLate;
        if (piece.high > bar.high) bar.high = piece.high;
        if (piece.low < bar.low) bar.low = piece.low;
        bar.close = piece.close;
        bar.volume += piece.volume;
        return Refusal::kNone;
      }
      const std::uint64_t buckets = elapsed / static_cast<std::uint64_t>(every);
      bucket = later(buckets);
      if (fill == Fill::kPrevious) gaps = buckets - 1;
      if (forming && !sink.completed(bar)) return Refusal::kStopped;
      if (gaps != 0 && !sink.filled(later(1), gaps)) return Refusal::kStopped;
    } else if (!first_bucket(timestamp, bucket)) [[unlikely]] {
      return Refusal::kTooEarly;
    }
    started = forming = true;
    bar = {bucket, piece.open, piece.high, piece.low, piece.close, piece.volume};
    return Refusal::kNone;
  }

  // The bar an empty bucket at `at` gives under fill="previous".
  TimeBar flat_bar(std::int64_t at) const noexcept {
    return {at, bar.close, bar.close, bar.close, bar.close, 0.0};
  }
  // Gives out the forming bucket: later pieces must fall after it.
  void close_forming() noexcept { forming = false; }
  void reset() noexcept { *this = BarBuilder{.every = every, .origin = origin, .fill = fill}; }

  // Hands `put` the flat bars of `count` empty buckets from `first`, in
  // order, while it answers true; false when it did not.
  template <class Put>
  bool put_flat_bars(std::int64_t first, std::uint64_t count, Put&& put) const noexcept {
    auto at = static_cast<std::uint64_t>(first);
    for (std::uint64_t i = 0; i < count; ++i, at += static_cast<std::uint64_t>(every)) {
      if (!put(flat_bar(static_cast<std::int64_t>(at)))) return false;
    }
    return true;
  }

  static bool aligned(const BarBuilder& r) noexcept {
    return !r.started || (__int128{r.bar.start} - r.origin) % r.every == 0;
  }
  static bool positive_every(const BarBuilder& r) noexcept { return r.every > 0; }
  static bool forming_started(const BarBuilder& r) noexcept { return r.started || !r.forming; }
  static bool no_nan(const BarBuilder& r) noexcept {
    return !any_nan(r.bar.open, r.bar.high, r.bar.low, r.bar.close, r.bar.volume);
  }

 private:
  // The start of the bucket `count` buckets after the latest one's, where
  // that lies no later than a time already seen.
  std::int64_t later(std::uint64_t count) const noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(bar.start) +
                                     count * static_cast<std::uint64_t>(every));
  }
  std::uint64_t since(std::int64_t timestamp) const noexcept {
    return static_cast<std::uint64_t>(timestamp) - static_cast<std::uint64_t>(bar.start);
  }
  bool first_bucket(std::int64_t timestamp, std::int64_t& bucket) const noexcept {
    const __int128 offset = __int128{timestamp} - origin;
    __int128 buckets = offset / every;
    if (offset % every < 0) --buckets;
    const __int128 at = __int128{origin} + buckets * every;
    if (at < std::numeric_limits<std::int64_t>::min()) return false;
    bucket = static_cast<std::int64_t>(at);
    return true;
  }
};

template <>
struct Checkpoint<TimeBar> {
  using R = TimeBar;
  static constexpr auto kFields =
      std::tuple{whole<&R::start>("start"), number<&R::open>("open"), number<&R::high>("high"),
                 number<&R::low>("low"), number<&R::close>("close"), number<&R::volume>("volume")};
};

template <>
struct Checkpoint<BarBuilder> {
  using R = BarBuilder;
  static constexpr auto kFields = std::tuple{
      whole<&R::every>("every"),
      rule<R>(&R::positive_every, "every is at least one nanosecond"),
      whole<&R::origin>("origin"),
      choice<&R::fill>("fill", 1),
      choice<&R::started>("started", 1),
      choice<&R::forming>("forming", 1),
      component<&R::bar>("bar"),
      rule<R>(&R::forming_started, "a forming bucket has been started"),
      rule<R>(&R::aligned, "the bucket starts a whole number of buckets from the origin"),
      rule<R>(&R::no_nan, "no price or volume is NaN"),
  };
};

}  // namespace barworks
