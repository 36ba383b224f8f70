// Objects of static storage that are never destroyed.
#pragma once

#include <new>

namespace adsl {

/// The one instance of T, made on first use and never destroyed: exit-time clean-ups and the flush at
/// exit may still reach the platform services after every exit-time destructor has run.
/// Windows builds drop the guards of static locals (-fno-threadsafe-statics); every instance is first
/// reached on the main thread during start-up or the first dial-up call, before any other thread exists.
template <typename T>
T& lasting_instance() {
  alignas(T) static unsigned char storage[sizeof(T)];  // NOLINT(bugprone-dynamic-static-initializers)
  static T* instance = new (storage) T();              // NOLINT(bugprone-dynamic-static-initializers)
  return *instance;
}

}  // namespace adsl
