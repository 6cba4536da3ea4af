#pragma once

#include <cstdint>
#include <string>

// Counts heap allocations made on threads that asked for it: every malloc, calloc, realloc,
// aligned allocation and operator new of the whole process (plug-in libraries included) while
// the calling thread holds a ScopedAllocationCounting. Other threads are never counted.
namespace varnelle::hostcheck
{

/** How allocations are seen in this build. */
const char* getAllocationCountingMethod() noexcept;

/** Allocations counted so far, on all counting threads together, except those of the
    separately counted caller. Any thread. */
std::int64_t getCountedAllocations() noexcept;

/** Allocations made under one known function are counted apart from the others. Walking an
    allocation's stack from the innermost frame out, the first frame inside either range
    decides: inside `separate` it is counted apart, inside `own` (code that must not allocate,
    called from `separate`) it is counted as usual. Set it before counting starts; empty ranges
    turn it off. */
void setSeparatelyCountedCaller (std::uintptr_t separateBegin, std::uintptr_t separateEnd,
                                 std::uintptr_t ownBegin, std::uintptr_t ownEnd) noexcept;

/** Allocations counted so far that came from the separately counted caller. Any thread. */
std::int64_t getSeparatelyCountedAllocations() noexcept;

/** Forgets the first counted allocation, so that the next one is described. */
void forgetFirstCountedAllocation() noexcept;

/** The call stack of the first allocation counted (module+offset per frame, innermost first),
    or an empty string if there was none or the build cannot tell. */
std::string describeFirstCountedAllocation();

/** Counts the allocations of the constructing thread until it is destroyed. Not nestable. */
class ScopedAllocationCounting
{
public:
    ScopedAllocationCounting() noexcept;
    ~ScopedAllocationCounting() noexcept;

    ScopedAllocationCounting (const ScopedAllocationCounting&) = delete;
    ScopedAllocationCounting& operator= (const ScopedAllocationCounting&) = delete;
};

} // namespace varnelle::hostcheck
