#include "platform/values/Bytes.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(base64Encode(asBytes(plain)), encoded);
        auto decoded = base64Decode(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(toString(*decoded), plain);
    }
}

TEST(Base64, AllByteValuesRoundTrip) {
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    const std::string text = base64Encode(all);
    EXPECT_NE(text.find('+'), std::string::npos);
    EXPECT_NE(text.find('/'), std::string::npos);
    EXPECT_EQ(base64Decode(text), all);
}

TEST(Base64, RejectsAnythingOutsideTheStrictForm) {
    for (const char* bad : {"Zg", "Zg=", "Zm9vYmFy\n", "Zm9v YmFy", "Zm9\nvYmFy", "Zm9v====", "=Zm9", "Zg==Zg==",
                            "Z===", "Zm-_", "Zm9vYg=A"})
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(Hex, RoundTripAndRejects) {
    const Bytes b = {0x00, 0xAB, 0x7F, 0xFF};
    EXPECT_EQ(hexEncode(b), "00ab7fff");
    EXPECT_EQ(hexDecode("00AB7fFF"), b);
    EXPECT_FALSE(hexDecode("abc"));
    EXPECT_FALSE(hexDecode("zz"));
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(sha256Hex(std::string_view("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex(std::string_view("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256(asBytes("abc")).size(), 32u);
    // Bytes after a NUL count too.
    EXPECT_NE(sha256Hex(std::string_view("a\0b", 3)), sha256Hex(std::string_view("a")));
}

}  // namespace
