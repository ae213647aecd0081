#pragma once

// Allocation failure on demand. Linking allocation_failure.cpp into a test
// program replaces its global operator new, so the allocations of the
// libraries it loads come there too.
namespace allocation_failure {

// The k-th allocation from now (k >= 1, counted over all threads) throws
// std::bad_alloc; 0 stops counting.
void FailAt(long k);
// Whether the allocation chosen by the last FailAt(k >= 1) has thrown.
bool Failed();

}  // namespace allocation_failure
