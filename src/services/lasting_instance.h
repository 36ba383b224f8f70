// Objects of static storage that are never destroyed.
#pragma once

#include <new>

namespace adsl {

/// The one instance of T, made on first use and never destroyed: exit-time clean-ups and the flush at
/// exit may still reach the platform services after every exit-time destructor has run.
template <typename T>
T& lasting_instance() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* instance = new (storage) T();
  return *instance;
}

}  // namespace adsl
