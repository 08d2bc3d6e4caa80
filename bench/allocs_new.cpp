// operator new for the allocation count: attributed to its own caller, not to the C++ library.
#include <cstddef>
#include <new>

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void count_allocation(const void *caller);
}

namespace {

void *take(std::size_t n, const void *caller) {
    count_allocation(caller);
    return __libc_malloc(n ? n : 1);
}

void *take_aligned(std::size_t n, std::align_val_t a, const void *caller) {
    count_allocation(caller);
    return __libc_memalign(static_cast<std::size_t>(a), n ? n : 1);
}

void *or_throw(void *p) {
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void *operator new(std::size_t n) { return or_throw(take(n, __builtin_return_address(0))); }
void *operator new[](std::size_t n) { return or_throw(take(n, __builtin_return_address(0))); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return take(n, __builtin_return_address(0)); }
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept { return take(n, __builtin_return_address(0)); }
void *operator new(std::size_t n, std::align_val_t a) {
    return or_throw(take_aligned(n, a, __builtin_return_address(0)));
}
void *operator new[](std::size_t n, std::align_val_t a) {
    return or_throw(take_aligned(n, a, __builtin_return_address(0)));
}
void *operator new(std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return take_aligned(n, a, __builtin_return_address(0));
}
void *operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return take_aligned(n, a, __builtin_return_address(0));
}
