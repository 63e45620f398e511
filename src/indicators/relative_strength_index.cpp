#include "relative_strength_index.h"

#include <bit>

namespace barworks {

namespace {
constexpr std::uint64_t kNegativeZero = std::bit_cast<std::uint64_t>(-0.0);
}

Expected<RelativeStrengthIndex> RelativeStrengthIndex::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RelativeStrengthIndex{std::move(*window), 0.0};
}

double RelativeStrengthIndex::update(double x) noexcept {
  const double change = x - previous;
  previous = x;
  changes.push(change);

  // Both sums take every slot, the one that does not own the change taking
  // an exact identity instead: x + -0.0 and x - +0.0 return x bit for bit,
  // signed zeros and NaN included. The selection is done on the bits, where
  // the compiler cannot fold the identity back into a branch that random
  // data would mispredict; the additions keep their slot order.
  double gain = 0.0;
  double loss = 0.0;
  for (const double c : changes.values) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(c);
    const std::uint64_t rose = c > 0.0 ? ~std::uint64_t{0} : 0;
    gain += std::bit_cast<double>((bits & rose) | (kNegativeZero & ~rose));
    loss -= std::bit_cast<double>(bits & ~rose);
  }

  const double n = static_cast<double>(changes.count);
  const double average_gain = gain / n;
  const double average_loss = loss / n;
  const double rs = average_gain / average_loss;
  return 100.0 - 100.0 / (rs + 1.0);
}

void RelativeStrengthIndex::reset() noexcept {
  previous = 0.0;
  changes.clear();
}

}  // namespace barworks
