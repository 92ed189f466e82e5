#pragma once

#include <utility>

namespace kvd::platform {

// One owner type for every handle kind. Traits supply the handle type, its invalid value and the
// close operation; a Traits object may carry state (the port that closes the handle).
//
//   struct Traits {
//     using Handle = ...;
//     static constexpr Handle Invalid() noexcept;
//     void Close(Handle) const noexcept;
//   };
template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Traits traits) noexcept : traits_(std::move(traits)) {}
  UniqueHandle(Traits traits, Handle handle) noexcept
      : traits_(std::move(traits)), handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept
      : traits_(std::move(other.traits_)), handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      traits_ = std::move(other.traits_);
      handle_ = other.release();
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Handle get() const noexcept { return handle_; }
  [[nodiscard]] bool valid() const noexcept { return handle_ != Traits::Invalid(); }

  // For out-parameters of calls that open a handle: closes the current one first.
  [[nodiscard]] Handle* put() noexcept {
    reset();
    return &handle_;
  }

  [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  void reset(Handle handle = Traits::Invalid()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) traits_.Close(old);
  }

 private:
  Traits traits_{};
  Handle handle_ = Traits::Invalid();
};

}  // namespace kvd::platform
