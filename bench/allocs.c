/* Counts the process's allocation calls for the frame benchmark: all of them (every thread's, the GL
   driver's included), and those made by code of this executable, which the renderer is part of. */
#include <errno.h>
#include <stddef.h>

void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);

extern char __executable_start[], etext[]; /* this executable's code, from the linker */

static unsigned long long all_calls, own_calls;

unsigned long long allocations(void) { return __atomic_load_n(&all_calls, __ATOMIC_RELAXED); }
unsigned long long own_allocations(void) { return __atomic_load_n(&own_calls, __ATOMIC_RELAXED); }

/* One call, made from return address `caller`. Shared with the operator new of allocs_new.cpp. */
void count_allocation(const void *caller) {
    __atomic_fetch_add(&all_calls, 1, __ATOMIC_RELAXED);
    if ((const char *)caller >= __executable_start && (const char *)caller < etext)
        __atomic_fetch_add(&own_calls, 1, __ATOMIC_RELAXED);
}

/* Defined in the executable, these take the place of the C library's for every shared object;
   each forwards to the same allocator, so memory may be freed by either side. */
void *malloc(size_t n) {
    count_allocation(__builtin_return_address(0));
    return __libc_malloc(n);
}

void *calloc(size_t k, size_t n) {
    count_allocation(__builtin_return_address(0));
    return __libc_calloc(k, n);
}

void *realloc(void *p, size_t n) {
    count_allocation(__builtin_return_address(0));
    return __libc_realloc(p, n);
}

void free(void *p) { __libc_free(p); }

void *memalign(size_t a, size_t n) {
    count_allocation(__builtin_return_address(0));
    return __libc_memalign(a, n);
}

void *aligned_alloc(size_t a, size_t n) {
    count_allocation(__builtin_return_address(0));
    return __libc_memalign(a, n);
}

int posix_memalign(void **p, size_t a, size_t n) {
    if (a < sizeof(void *) || (a & (a - 1)) != 0) return EINVAL;
    count_allocation(__builtin_return_address(0));
    void *m = __libc_memalign(a, n);
    if (!m && n) return ENOMEM;
    *p = m;
    return 0;
}
