#include "window.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <utility>

namespace barworks {

namespace {
constexpr std::size_t kLargestBuffer = 2147483644;

void* c_calloc(std::size_t count, std::size_t size) noexcept { return std::calloc(count, size); }
void c_free(void* data) noexcept { std::free(data); }

WindowAllocator window_allocator{c_calloc, c_free};
}  // namespace

void use_window_allocator(WindowAllocator allocator) noexcept { window_allocator = allocator; }

Expected<Window> Window::allocate(std::uint32_t size, double fill) noexcept {
  if (std::size_t{size} * sizeof(double) > kLargestBuffer) {
    return std::unexpected(Error{ErrorKind::kPanic, "capacity overflow"});
  }
  auto* data = static_cast<double*>(window_allocator.allocate_zeroed(size, sizeof(double)));
  if (data == nullptr) return std::unexpected(Error{ErrorKind::kMemory, nullptr});
  Window window(data, size);
  // The buffer arrives zeroed; only another fill value needs a pass.
  if (std::bit_cast<std::uint64_t>(fill) != 0) window.fill(fill);
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

Window::~Window() {
  if (data_ != nullptr) window_allocator.release(data_);
}

void Window::fill(double value) noexcept { std::fill(data_, data_ + size_, value); }

}  // namespace barworks
