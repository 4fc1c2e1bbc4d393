#include "platform/values/Bytes.h"

#include <array>
#include <cstdlib>

#include <openssl/evp.h>

namespace platform {
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeBase64Table() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
    return t;
}
constexpr auto kBase64Table = makeBase64Table();

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string toString(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

void base64EncodeInto(ByteView bytes, char* out) {
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = std::uint32_t(bytes[i]) << 16 | std::uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        *out++ = kBase64Alphabet[v >> 18 & 63];
        *out++ = kBase64Alphabet[v >> 12 & 63];
        *out++ = kBase64Alphabet[v >> 6 & 63];
        *out++ = kBase64Alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t(bytes[i]) << 16;
        if (rest == 2) v |= std::uint32_t(bytes[i + 1]) << 8;
        *out++ = kBase64Alphabet[v >> 18 & 63];
        *out++ = kBase64Alphabet[v >> 12 & 63];
        *out++ = rest == 2 ? kBase64Alphabet[v >> 6 & 63] : '=';
        *out++ = '=';
    }
}

std::string base64Encode(ByteView bytes) {
    std::string out(base64EncodedLength(bytes.size()), '\0');
    base64EncodeInto(bytes, out.data());
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        ++padding;
        if (text[text.size() - 2] == '=') ++padding;
    }
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int d;
            if (c == '=' && last && k >= 4 - padding) {
                d = 0;
            } else {
                d = kBase64Table[static_cast<unsigned char>(c)];
                if (d < 0) return std::nullopt;
            }
            v = v << 6 | static_cast<std::uint32_t>(d);
        }
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        if (!last || padding < 2) out.push_back(static_cast<std::uint8_t>(v >> 8 & 0xFF));
        if (!last || padding < 1) out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return out;
}

std::string hexEncode(ByteView bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

std::optional<Bytes> hexDecode(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return out;
}

// libcrypto fails these only when it is itself broken.
Sha256Hasher::Sha256Hasher() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha256(), nullptr) != 1) std::abort();
}

Sha256Hasher::~Sha256Hasher() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void Sha256Hasher::update(ByteView bytes) {
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes.data(), bytes.size()) != 1) std::abort();
}

Bytes Sha256Hasher::finish() {
    Bytes digest(32);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest.data(), &length) != 1 ||
        length != digest.size())
        std::abort();
    return digest;
}

Bytes sha256(ByteView bytes) {
    Sha256Hasher hasher;
    hasher.update(bytes);
    return hasher.finish();
}

std::string sha256Hex(ByteView bytes) { return hexEncode(sha256(bytes)); }

}  // namespace platform
