// Replaces the global allocation functions of the test binary to count heap
// allocations and to make one of them fail on request (per thread).

#ifndef TESTS_ALLOCATIONHOOKS_H_
#define TESTS_ALLOCATIONHOOKS_H_

#include <cstdint>

namespace allochooks {

// False when another tool (valgrind) replaced the allocation functions, so
// that counts and failures cannot be had.
bool Active();
// Allocations made by this thread so far.
uint64_t Count();
// The `n`-th allocation of this thread from now on (1 = the next) throws
// std::bad_alloc; 0 disarms.
void FailAt(uint64_t n);
// Whether the failure armed by the last FailAt happened.
bool FailureHappened();

}  // namespace allochooks

#endif  // TESTS_ALLOCATIONHOOKS_H_
