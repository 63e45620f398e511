// What the classic indicators share: the module their classes report and the
// answer they give before their warm-up is complete.
#pragma once

#include <limits>

#include "../branch_free.h"
#include "../checkpoint.h"
#include "../describe.h"
#include "../error.h"
#include "../nan.h"

namespace barworks::classic {

inline constexpr const char* kModuleName = "barworks.classic";

// The answer while an indicator has fewer inputs than its lookback.
inline constexpr double kNotYet = kNaN;

// The refusal of a fast period that is not below its slow one.
inline constexpr Error kFastNotBelowSlow{ErrorKind::kValue,
                                         "Fast period must be less than slow period."};

}  // namespace barworks::classic

namespace barworks {

// A class of barworks.classic with next(input) and reset(); its
// description adds the constructor and its name.
template <class Record>
struct ClassicIndicator {
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kMethods =
      std::tuple{method<&Record::update>("next", Access::kExclusive, "input"),
                 method<&Record::reset>("reset", Access::kExclusive)};
};

// Class(period) with next(input), period() and reset(), reported as a
// class of barworks.classic.
template <class Record>
struct ClassicPeriodIndicator : PeriodIndicator<Record> {
  static constexpr const char* kModule = classic::kModuleName;
};

}  // namespace barworks
