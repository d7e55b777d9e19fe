#pragma once
// Marks an object handed from one thread to another through a library whose
// locks ThreadSanitizer cannot see (GLib's main-context locks are futexes).
// The sender calls Released after its last write, the receiver Acquired
// before its first read. Without ThreadSanitizer both compile to nothing.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace Corvane {
namespace Platform {

inline void HandOffReleased(void* object) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(object);
#else
  (void)object;
#endif
}

inline void HandOffAcquired(void* object) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(object);
#else
  (void)object;
#endif
}

}  // namespace Platform
}  // namespace Corvane
