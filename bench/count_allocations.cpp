#include "count_allocations.h"

#include <atomic>
#include <cstddef>

// glibc's own allocator entry points, to count and pass on each call.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t n, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace {

std::atomic<unsigned long> allocations{0};

} // namespace

unsigned long allocations_so_far()
{
    return allocations.load();
}

extern "C" {

__attribute__((visibility("default"))) void *malloc(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

__attribute__((visibility("default"))) void *calloc(std::size_t n, std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}

__attribute__((visibility("default"))) void *realloc(void *p, std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}

} // extern "C"
