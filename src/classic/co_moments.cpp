#include "co_moments.h"

namespace barworks::classic {

CoMoments::Sums CoMoments::exact_sums(const double* xs, const double* ys,
                                             std::uint32_t size, double n) noexcept {
  double sum_x = 0.0, sum_y = 0.0;
  for (std::uint32_t i = 0; i < size; ++i) {
    sum_x += xs[i];
    sum_y += ys[i];
  }
  // The rounded means serve as references; the deviations from them sum to
  // n times their rounding errors, which is taken back out.
  const double kx = sum_x / n, ky = sum_y / n;
  double dx = 0.0, dy = 0.0, qx = 0.0, qy = 0.0, qxy = 0.0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const double ex = xs[i] - kx, ey = ys[i] - ky;
    dx += ex;
    dy += ey;
    qx += ex * ex;
    qy += ey * ey;
    qxy += ex * ey;
  }
  return {kx, ky, dx / n, dy / n, qx - dx * dx / n, qy - dy * dy / n, qxy - dx * dy / n};
}

}  // namespace barworks::classic
