#pragma once

// For tests and benchmarks only: counts the heap allocations (malloc and
// friends, which operator new and libsoxr both use) that the calling thread
// makes while a probe lives. Linking this library replaces the process's
// malloc entry points with counting forwarders to glibc's own. Under a
// sanitizer (which has its own allocator) it counts nothing.

#include <cstddef>

namespace platform {

class AllocationProbe {
public:
    AllocationProbe();
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    std::size_t count() const { return count_; }
    void reset() { count_ = 0; }

private:
    std::size_t count_ = 0;
    std::size_t* previous_ = nullptr;
};

}  // namespace platform
