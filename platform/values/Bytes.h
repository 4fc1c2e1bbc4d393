#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A byte buffer: file contents, HTTP bodies, digests.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

Bytes toBytes(std::string_view text);
std::string toString(ByteView bytes);
// A view of a text's bytes, for the functions below.
inline ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Standard base64 (RFC 4648) with padding.
std::string base64Encode(ByteView bytes);
// The length of the base64 text of `byteCount` bytes.
constexpr std::size_t base64EncodedLength(std::size_t byteCount) { return (byteCount + 2) / 3 * 4; }
// Writes the base64 text of `bytes` to `out`, which has room for
// base64EncodedLength(bytes.size()) characters: for building a large body
// without an intermediate copy of the text.
void base64EncodeInto(ByteView bytes, char* out);
// Strict: the length must be a multiple of four, padding only at the end, and no
// character outside the alphabet (line breaks and blanks included) is tolerated.
std::optional<Bytes> base64Decode(std::string_view text);

// Lower-case hexadecimal, two digits per byte.
std::string hexEncode(ByteView bytes);
// Either case; an odd length or a non-hex character gives nothing.
std::optional<Bytes> hexDecode(std::string_view text);

// SHA-256 digest (32 bytes) and its lower-case hexadecimal text.
Bytes sha256(ByteView bytes);
std::string sha256Hex(ByteView bytes);
inline std::string sha256Hex(std::string_view text) { return sha256Hex(asBytes(text)); }

// SHA-256 of data that arrives in pieces (a large file read a part at a time).
class Sha256Hasher {
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;
    void update(ByteView bytes);
    // The digest of everything given so far (32 bytes); the hasher is spent.
    Bytes finish();

private:
    void* context_;
};

}  // namespace platform
