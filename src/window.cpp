#include "window.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace barworks {

namespace {
constexpr std::size_t kLargestBuffer = 2147483644;
}

Expected<Window> Window::allocate(std::uint32_t size, double fill) noexcept {
  if (std::size_t{size} * sizeof(double) > kLargestBuffer) {
    return std::unexpected(Error{ErrorKind::kPanic, "capacity overflow"});
  }
  auto* data = static_cast<double*>(std::malloc(std::size_t{size} * sizeof(double)));
  if (data == nullptr) return std::unexpected(Error{ErrorKind::kMemory, nullptr});
  Window window(data, size);
  window.fill(fill);
  return window;
}

Expected<CircularWindow> CircularWindow::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  auto window = Window::allocate(period, 0.0);
  if (!window) return std::unexpected(window.error());
  return CircularWindow{std::move(*window), period, 0, 0};
}

Window::Window(Window&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

Window& Window::operator=(Window&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

Window::~Window() { std::free(data_); }

void Window::fill(double value) noexcept { std::fill(data_, data_ + size_, value); }

}  // namespace barworks
