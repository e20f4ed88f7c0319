#pragma once

// Values laid end to end in the texts the processes exchange, in the machine's own layout (every
// process runs the same build on the same kind of machine).

#include <cstring>
#include <string>
#include <type_traits>

namespace punb {

template <class T>
void put(std::string& out, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Reads the value at `at` and moves `at` past it.
template <class T>
T get(const char*& at) {
  static_assert(std::is_trivially_copyable_v<T>);
  T value;
  std::memcpy(&value, at, sizeof value);
  at += sizeof value;
  return value;
}

}  // namespace punb
