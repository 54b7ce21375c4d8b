#pragma once
// VELMORA_SANITIZED: defined in a build under a sanitizer (address, thread or
// memory), whose run-time brings its own allocator and reserves far more
// address space than it uses. Code that tunes memory leaves it alone there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VELMORA_SANITIZED 1
#endif
#endif
