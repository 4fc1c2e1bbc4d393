#pragma once

// Random 64-bit words and unbiased bounded draws from them. The real source
// reads the kernel's cryptographically secure generator; tests inject words.

#include <cstdint>
#include <functional>

namespace parlowen {

class RandomWordSource {
public:
    virtual ~RandomWordSource() = default;
    virtual std::uint64_t nextWord() = 0;
};

// getrandom(2); blocks only until the kernel's pool is first seeded.
class SecureRandomWords : public RandomWordSource {
public:
    std::uint64_t nextWord() override;
    // The process's instance.
    static SecureRandomWords& shared();
};

// A number from 0 to `upperBound` - 1, each equally likely (`upperBound` > 0).
// Multiplies a word by the bound and takes the high half; words whose low
// half falls below 2^64 mod `upperBound` would favour some results and are
// drawn again.
std::uint64_t boundedRandom(std::uint64_t upperBound, RandomWordSource& source);

}  // namespace parlowen
