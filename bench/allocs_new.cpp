// operator new for the allocation count: attributed to its own caller, not to the C++ library.
#include <cstddef>
#include <new>

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void compte_allocation(const void *de);
}

namespace {

void *prend(std::size_t n, const void *de) {
    compte_allocation(de);
    return __libc_malloc(n ? n : 1);
}

void *prend_aligne(std::size_t n, std::align_val_t a, const void *de) {
    compte_allocation(de);
    return __libc_memalign(static_cast<std::size_t>(a), n ? n : 1);
}

void *ou_jette(void *p) {
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void *operator new(std::size_t n) { return ou_jette(prend(n, __builtin_return_address(0))); }
void *operator new[](std::size_t n) { return ou_jette(prend(n, __builtin_return_address(0))); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return prend(n, __builtin_return_address(0)); }
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept { return prend(n, __builtin_return_address(0)); }
void *operator new(std::size_t n, std::align_val_t a) {
    return ou_jette(prend_aligne(n, a, __builtin_return_address(0)));
}
void *operator new[](std::size_t n, std::align_val_t a) {
    return ou_jette(prend_aligne(n, a, __builtin_return_address(0)));
}
void *operator new(std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return prend_aligne(n, a, __builtin_return_address(0));
}
void *operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return prend_aligne(n, a, __builtin_return_address(0));
}
