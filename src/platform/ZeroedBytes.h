#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace velutron {

// Hands out memory that is already zero (calloc: fresh pages from the system), and leaves an element
// made without a value as it is, so a large zeroed buffer costs no writes until it is used: the
// receive and report buffers (900 KB) otherwise cost every short command a third of a millisecond.
// Only for buffers that are never grown back after shrinking (resize would leave old bytes there);
// assign and the constructor with a value write as usual.
template <typename T>
struct ZeroedAllocator {
  using value_type = T;
  ZeroedAllocator() = default;
  template <typename U>
  ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    void* p = std::calloc(n, sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) noexcept { std::free(p); }

  template <typename U>
  void construct(U*) noexcept {}
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  template <typename U>
  friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator<U>&) noexcept {
    return true;
  }
};

using ZeroedBytes = std::vector<uint8_t, ZeroedAllocator<uint8_t>>;

}  // namespace velutron
