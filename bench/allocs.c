/* Counts the process's allocation calls (every thread's, the GL driver's included) for the frame benchmark. */
#include <errno.h>
#include <stddef.h>

void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);

/* Defined in the executable, these take the place of the C library's for every shared object;
   each forwards to the same allocator, so memory may be freed by either side. */
static unsigned long long appels;

unsigned long long allocations(void) { return __atomic_load_n(&appels, __ATOMIC_RELAXED); }

static void compte(void) { __atomic_fetch_add(&appels, 1, __ATOMIC_RELAXED); }

void *malloc(size_t n) {
    compte();
    return __libc_malloc(n);
}

void *calloc(size_t k, size_t n) {
    compte();
    return __libc_calloc(k, n);
}

void *realloc(void *p, size_t n) {
    compte();
    return __libc_realloc(p, n);
}

void free(void *p) { __libc_free(p); }

void *memalign(size_t a, size_t n) {
    compte();
    return __libc_memalign(a, n);
}

void *aligned_alloc(size_t a, size_t n) {
    compte();
    return __libc_memalign(a, n);
}

int posix_memalign(void **p, size_t a, size_t n) {
    if (a < sizeof(void *) || (a & (a - 1)) != 0) return EINVAL;
    compte();
    void *m = __libc_memalign(a, n);
    if (!m && n) return ENOMEM;
    *p = m;
    return 0;
}
