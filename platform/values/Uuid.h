#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A 128-bit identifier. Printed in canonical upper-case form
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F") and read in either case.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The all-zero identifier.
    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // A fresh random (version 4) identifier from the kernel's random source.
    static Uuid random();

    // Reads the canonical 8-4-4-4-12 hexadecimal form, upper or lower case (or mixed).
    // Anything else (braces, missing hyphens, surrounding blanks, wrong length) gives nothing.
    static std::optional<Uuid> fromString(std::string_view text);

    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }
    bool isNil() const { return *this == Uuid(); }

    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;
    friend constexpr bool operator==(const Uuid&, const Uuid&) = default;

private:
    Bytes bytes_{};
};

}  // namespace platform

template <>
struct std::hash<platform::Uuid> {
    std::size_t operator()(const platform::Uuid& u) const noexcept {
        // The bytes are uniformly random for generated identifiers; mix both halves anyway
        // so hand-made ones that differ only at the end do not collide.
        std::uint64_t a = 0, b = 0;
        for (int i = 0; i < 8; ++i) a = (a << 8) | u.bytes()[i];
        for (int i = 8; i < 16; ++i) b = (b << 8) | u.bytes()[i];
        return std::hash<std::uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};
