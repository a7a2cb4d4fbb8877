#include <gtest/gtest.h>

#include "platform/ByteView.h"
#include "platform/Text.h"

using namespace salvage;

TEST(ByteView, FieldReadsBothOrders) {
    const std::uint8_t b[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    ByteView v(b, sizeof b);
    EXPECT_EQ(le16(v, 0), 0x0201);
    EXPECT_EQ(le32(v, 0), 0x04030201u);
    EXPECT_EQ(le64(v, 0), 0x0807060504030201ull);
    EXPECT_EQ(le48(v, 2), 0x080706050403ull);
    EXPECT_EQ(be16(v, 0), 0x0102);
    EXPECT_EQ(be32(v, 4), 0x05060708u);
    EXPECT_EQ(be64(v, 0), 0x0102030405060708ull);
}

TEST(ByteView, ReadsPastTheEndAreZeroAndNeverOverflow) {
    const std::uint8_t b[] = {0xFF, 0xFF, 0xFF};
    ByteView v(b, sizeof b);
    EXPECT_EQ(le32(v, 0), 0u);  // needs 4 bytes, has 3
    EXPECT_EQ(le16(v, 2), 0u);
    EXPECT_EQ(le16(v, SIZE_MAX), 0u);
    EXPECT_FALSE(v.has(SIZE_MAX, 2));
    EXPECT_FALSE(v.has(2, SIZE_MAX));
    EXPECT_TRUE(v.has(3, 0));
    EXPECT_EQ(v.sub(5).size(), 0u);
    EXPECT_EQ(v.sub(1, 100).size(), 2u);
    EXPECT_EQ(v[3], 0);
}

TEST(ByteView, CheckedArithmetic) {
    std::uint64_t out;
    EXPECT_FALSE(checkedMul(std::uint64_t(1) << 40, std::uint64_t(1) << 30, out));
    EXPECT_TRUE(checkedMul(std::uint64_t(4096), std::uint64_t(1) << 40, out));
    EXPECT_FALSE(checkedAdd(UINT64_MAX, std::uint64_t(1), out));
}

TEST(Text, AnsiCodePageIsUtf8OrWindows1252) {
    EXPECT_EQ(ansiToUtf16("caf\xC3\xA9"), u"caf\u00E9");    // valid UTF-8
    EXPECT_EQ(ansiToUtf16("caf\xE9"), u"caf\u00E9");        // Latin-1 byte
    EXPECT_EQ(ansiToUtf16("\x80"), u"\u20AC");              // cp1252 euro
    EXPECT_EQ(toUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(fromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, FormatsAndCaseFolding) {
    EXPECT_EQ(format16("%d   MB", 488), u"488   MB");
    EXPECT_EQ(format16("%lld  MB", 19LL), u"19  MB");
    EXPECT_TRUE(equalsIgnoreAsciiCase(u"NTFS", u"ntfs"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"extX", u"ext"));
}
