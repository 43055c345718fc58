// One scoped-handle template for every kind of handle the library owns: descriptors, FILE
// streams, libmount tables and libplist nodes.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace strandel::base {

// Traits give `invalid()` and `free(handle)`.
template <typename T, typename Traits>
class ScopedGeneric {
 public:
  ScopedGeneric() noexcept : handle_(Traits::invalid()) {}
  explicit ScopedGeneric(T handle) noexcept : handle_(handle) {}
  ScopedGeneric(ScopedGeneric&& other) noexcept : handle_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ~ScopedGeneric() { reset(); }

  T get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }
  T release() noexcept { return std::exchange(handle_, Traits::invalid()); }
  void reset(T handle = Traits::invalid()) noexcept {
    T old = std::exchange(handle_, handle);
    if (old != Traits::invalid()) Traits::free(old);
  }
  // For C calls that create into an out-pointer: reset first, then hand the slot over.
  T* receive() noexcept {
    reset();
    return &handle_;
  }

 private:
  T handle_;
};

// Inline, so that code outside the library (the tool's importer) owns descriptors the same way.
// close is not retried after EINTR: Linux releases the descriptor whatever close reports, and
// a second close could hit a descriptor that another thread has opened meanwhile.
struct FdTraits {
  static int invalid() noexcept { return -1; }
  static void free(int fd) noexcept { ::close(fd); }
};
/// An owned file descriptor, closed when the value goes.
using UniqueFd = ScopedGeneric<int, FdTraits>;

/// Calls `f` again while it fails with EINTR (for calls that report failure as -1 and errno).
template <typename F>
auto retryAfterSignal(F&& f) -> decltype(f()) {
  decltype(f()) result;
  do {
    result = f();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace strandel::base
