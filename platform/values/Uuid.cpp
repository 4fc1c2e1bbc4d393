#include "platform/values/Uuid.h"

#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

namespace platform {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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
    Bytes b{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0 || isHyphenPosition(i + 1)) return std::nullopt;
        b[out++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
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
