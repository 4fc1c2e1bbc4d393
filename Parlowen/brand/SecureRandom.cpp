#include "Parlowen/brand/SecureRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace parlowen {

std::uint64_t SecureRandomWords::nextWord() {
    std::uint64_t word = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&word);
    std::size_t have = 0;
    while (have < sizeof word) {
        const ssize_t n = getrandom(bytes + have, sizeof word - have, 0);
        if (n > 0) {
            have += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // No secure randomness is not something to paper over.
            std::abort();
        }
    }
    return word;
}

SecureRandomWords& SecureRandomWords::shared() {
    static SecureRandomWords source;
    return source;
}

std::uint64_t boundedRandom(std::uint64_t upperBound, RandomWordSource& source) {
    if (upperBound <= 1) return 0;
    unsigned __int128 product = static_cast<unsigned __int128>(source.nextWord()) * upperBound;
    auto low = static_cast<std::uint64_t>(product);
    if (low < upperBound) {
        const std::uint64_t threshold = (0 - upperBound) % upperBound;  // 2^64 mod upperBound
        while (low < threshold) {
            product = static_cast<unsigned __int128>(source.nextWord()) * upperBound;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

}  // namespace parlowen
