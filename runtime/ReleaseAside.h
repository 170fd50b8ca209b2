// Letting go of a large block without the wait: giving tens of megabytes back
// to the system costs the thread that does it milliseconds, and the window's
// thread must not spend them.
#pragma once

#include <cstddef>
#include <thread>
#include <type_traits>
#include <utility>

namespace rt {

// Blocks from this size on are let go of on a thread of their own.
constexpr std::size_t kLargeBlockBytes = std::size_t{8} << 20;

// Destroys `owner` (whatever holds the block) on a thread of its own; here
// when no thread is to be had.
template <class T>
void ReleaseAside(T&& owner) {
  using Held = std::decay_t<T>;
  try {
    std::thread([held = Held(std::move(owner))]() mutable { Held gone(std::move(held)); }).detach();
  } catch (...) {
    Held gone(std::move(owner));  // the thread's copy, if made, went with the failure
  }
}

}  // namespace rt
