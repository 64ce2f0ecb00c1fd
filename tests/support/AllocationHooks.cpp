#include "AllocationHooks.h"

#include <cstdlib>
#include <new>

namespace allochooks {
namespace {
thread_local uint64_t t_count = 0;
thread_local uint64_t t_fail_at = 0;
thread_local bool t_failed = false;
}  // namespace

bool Active() {
  // valgrind replaces the allocation functions, not always everywhere:
  // scripts/memcheck.sh says so outright.
  if (std::getenv("FM_UNDER_VALGRIND") != nullptr) return false;
  const uint64_t before = t_count;
  // A direct call: a new-expression could be elided.
  ::operator delete(::operator new(1));
  return t_count != before;
}

uint64_t Count() { return t_count; }
void FailAt(uint64_t n) {
  t_fail_at = n == 0 ? 0 : t_count + n;
  if (n != 0) t_failed = false;
}
bool FailureHappened() { return t_failed; }

}  // namespace allochooks

namespace {
void* Allocate(std::size_t size) {
  ++allochooks::t_count;
  if (allochooks::t_fail_at != 0 &&
      allochooks::t_count == allochooks::t_fail_at) {
    allochooks::t_fail_at = 0;
    allochooks::t_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
// The nothrow forms too (std::inplace_merge's buffer, simdjson's): left to
// the runtime, they would allocate where the replaced delete cannot free.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
