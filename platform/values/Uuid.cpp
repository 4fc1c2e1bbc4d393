#include "platform/values/Uuid.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

#include "platform/values/Bytes.h"

namespace platform {
namespace {

bool isHyphenPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

Uuid Uuid::random() {
    Bytes b{};
    std::size_t filled = 0;
    while (filled < b.size()) {
        ssize_t n = getrandom(b.data() + filled, b.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::abort();  // no entropy source at all: nothing sensible to hand out
        }
        filled += static_cast<std::size_t>(n);
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return Uuid(b);
}

std::optional<Uuid> Uuid::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::string hex;
    hex.reserve(32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isHyphenPosition(i))
            hex += text[i];
        else if (text[i] != '-')
            return std::nullopt;
    }
    const auto decoded = hexDecode(hex);
    if (!decoded) return std::nullopt;
    Bytes b{};
    std::copy(decoded->begin(), decoded->end(), b.begin());
    return Uuid(b);
}

std::string Uuid::uuidString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += kDigits[bytes_[i] >> 4];
        s += kDigits[bytes_[i] & 0x0F];
    }
    return s;
}

}  // namespace platform
