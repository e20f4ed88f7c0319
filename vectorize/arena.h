#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

#include "docfile/large_pages.h"

namespace punb::vectorize {

// An array of plain values filled in order, up to a capacity fixed at the start: its address
// space is reserved at once, so growing never copies, and the memory comes in huge pages where
// the system gives them, since page faults are costly on the machines this runs on. Pages are
// only taken as they are written. A push past the capacity is refused and remembered.
template <class T>
class FillArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  FillArray() = default;
  explicit FillArray(std::size_t capacity) {
    if (capacity == 0) return;
    void* p = mmap(nullptr, capacity * sizeof(T), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
      overflowed_ = true;
      return;
    }
    madvise(p, capacity * sizeof(T), MADV_HUGEPAGE);
    data_ = static_cast<T*>(p);
    capacity_ = capacity;
  }
  ~FillArray() {
    if (data_) munmap(data_, capacity_ * sizeof(T));
  }
  FillArray(FillArray&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)),
        size_(std::exchange(o.size_, 0)),
        capacity_(std::exchange(o.capacity_, 0)),
        overflowed_(std::exchange(o.overflowed_, false)) {}
  FillArray& operator=(FillArray&& o) noexcept {
    FillArray gone(std::move(*this));
    data_ = std::exchange(o.data_, nullptr);
    size_ = std::exchange(o.size_, 0);
    capacity_ = std::exchange(o.capacity_, 0);
    overflowed_ = std::exchange(o.overflowed_, false);
    return *this;
  }

  void push_back(const T& v) {
    if (size_ < capacity_)
      data_[size_++] = v;
    else
      overflowed_ = true;
  }
  // Whether a push was refused, or the capacity could not be reserved.
  bool overflowed() const { return overflowed_; }
  std::size_t size() const { return size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T* data() const { return data_; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool overflowed_ = false;
};

}  // namespace punb::vectorize
