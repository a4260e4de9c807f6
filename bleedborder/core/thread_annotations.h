#pragma once

namespace bleedborder {

// Clang's thread-safety attributes, so that the compiler checks which lock
// guards what: a guarded field touched without its lock is a compile error
// under -Wthread-safety. Under other compilers they expand to nothing.
#if defined(__clang__)
#define BLEED_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define BLEED_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(name) BLEED_THREAD_ATTRIBUTE(capability(name))
#define SCOPED_CAPABILITY BLEED_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(lock) BLEED_THREAD_ATTRIBUTE(guarded_by(lock))
#define REQUIRES(...) BLEED_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) BLEED_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) BLEED_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) BLEED_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS BLEED_THREAD_ATTRIBUTE(no_thread_safety_analysis)

}  // namespace bleedborder
