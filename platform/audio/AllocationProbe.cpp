#include "platform/audio/AllocationProbe.h"

#include <cstdlib>

// Sanitizers bring their own allocator: there the probe counts nothing.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define PARLOWEN_COUNT_ALLOCATIONS 1
#endif

#ifdef PARLOWEN_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}
#endif

namespace {
// Constant-initialised, so reading it inside malloc needs no TLS set-up.
thread_local constinit std::size_t* tCounter = nullptr;
inline void note() {
    if (tCounter) ++*tCounter;
}
}  // namespace

namespace platform {

AllocationProbe::AllocationProbe() : previous_(tCounter) { tCounter = &count_; }
AllocationProbe::~AllocationProbe() { tCounter = previous_; }

}  // namespace platform

#ifdef PARLOWEN_COUNT_ALLOCATIONS
extern "C" {

void* malloc(std::size_t n) {
    note();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    note();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    note();
    return __libc_realloc(p, n);
}
void* memalign(std::size_t alignment, std::size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    note();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void* p = __libc_memalign(alignment, n);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
void free(void* p) { __libc_free(p); }

}  // extern "C"
#endif
