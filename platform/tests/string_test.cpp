#include <CoreFoundation/CoreFoundation.h>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

CFStringRef from_bytes(const std::string& s, Boolean external = 0) {
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(s.data()),
                                   static_cast<CFIndex>(s.size()), kCFStringEncodingUTF8, external);
}

std::string to_text(CFStringRef s) {
    std::vector<char> buffer(static_cast<std::size_t>(
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(s), kCFStringEncodingUTF8) + 1));
    EXPECT_TRUE(CFStringGetCString(s, buffer.data(), static_cast<CFIndex>(buffer.size()),
                                   kCFStringEncodingUTF8));
    return buffer.data();
}

TEST(CFString, RoundTripsUtf8AndCountsUtf16Units) {
    struct Case {
        const char* text;
        CFIndex utf16_length;
    };
    const Case cases[] = {
        {"", 0},
        {"Threshold", 9},
        {"H\xC3\xA4mmer", 6},                        // two-byte character
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 3}, // three-byte characters
        {"\xE2\x82\xAC 5", 3},
        {"\xF0\x9D\x84\x9E clef", 7}, // U+1D11E takes a surrogate pair
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CFStringRef a = from_bytes(c.text);
        CFStringRef b = CFStringCreateWithCString(nullptr, c.text, kCFStringEncodingUTF8);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(CFStringGetLength(a), c.utf16_length);
        EXPECT_EQ(to_text(a), c.text);
        EXPECT_TRUE(CFEqual(a, b));
        CFRelease(a);
        CFRelease(b);
    }
}

TEST(CFString, GetCStringNeedsRoomForTheTerminator) {
    struct Case {
        std::string text;
        CFIndex buffer_size;
        bool fits;
    };
    const Case cases[] = {
        {"h\xC3\xA9llo", 7, true}, // six bytes and the zero
        {"h\xC3\xA9llo", 6, false},
        {"h\xC3\xA9llo", 1, false},
        {"", 1, true},
        {std::string(1023, 'x'), 1024, true},
        {std::string(1024, 'x'), 1024, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        SCOPED_TRACE(c.buffer_size);
        CFStringRef s = from_bytes(c.text);
        std::vector<char> buffer(static_cast<std::size_t>(c.buffer_size) + 1, '#');
        EXPECT_EQ(CFStringGetCString(s, buffer.data(), c.buffer_size, kCFStringEncodingUTF8),
                  c.fits ? 1 : 0);
        // Never a partial text, and nothing written past the given size.
        EXPECT_EQ(std::string(buffer.data()), c.fits ? c.text : "");
        EXPECT_EQ(buffer.back(), '#');
        CFRelease(s);
    }
}

TEST(CFString, GetCStringRefusesNoRoomAndOtherEncodings) {
    CFStringRef s = from_bytes("abc");
    char buffer[8] = {'#'};
    EXPECT_FALSE(CFStringGetCString(s, buffer, 0, kCFStringEncodingUTF8));
    EXPECT_EQ(buffer[0], '#');
    EXPECT_FALSE(CFStringGetCString(s, nullptr, 8, kCFStringEncodingUTF8));
    EXPECT_FALSE(CFStringGetCString(s, buffer, sizeof buffer, 0x0600));
    EXPECT_EQ(buffer[0], '\0');
    CFRelease(s);
}

TEST(CFString, CreationRefusesIllFormedInput) {
    const char* const ill_formed[] = {
        "\xC3",             // cut short
        "a\xC3(",           // bad continuation byte
        "\x80",             // lone continuation byte
        "\xC0\xAF",         // overlong '/'
        "\xE0\x80\xAF",     // overlong, three bytes
        "\xED\xA0\x80",     // surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xFF",
    };
    for (const char* bytes : ill_formed) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(from_bytes(bytes), nullptr);
        EXPECT_EQ(CFStringCreateWithCString(nullptr, bytes, kCFStringEncodingUTF8), nullptr);
    }
    const UInt8 abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(CFStringCreateWithBytes(nullptr, abc, -1, kCFStringEncodingUTF8, 0), nullptr);
    EXPECT_EQ(CFStringCreateWithBytes(nullptr, nullptr, 3, kCFStringEncodingUTF8, 0), nullptr);
    EXPECT_EQ(CFStringCreateWithBytes(nullptr, abc, 3, 0x0600, 0), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);

    CFStringRef empty = CFStringCreateWithBytes(nullptr, nullptr, 0, kCFStringEncodingUTF8, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(CFStringGetLength(empty), 0);
    CFRelease(empty);
}

TEST(CFString, ExternalRepresentationDropsTheByteOrderMark) {
    CFStringRef external = from_bytes("\xEF\xBB\xBFgain", 1);
    CFStringRef internal = from_bytes("\xEF\xBB\xBFgain", 0);
    EXPECT_EQ(to_text(external), "gain");
    EXPECT_EQ(CFStringGetLength(internal), 5); // U+FEFF stays a character
    CFRelease(external);
    CFRelease(internal);
}

TEST(CFString, MaximumSizeIsThreeBytesPerUnit) {
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(0, kCFStringEncodingUTF8), 0);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(7, kCFStringEncodingUTF8), 21);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(std::numeric_limits<CFIndex>::max() / 2,
                                                kCFStringEncodingUTF8),
              kCFNotFound);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(7, 0x0600), kCFNotFound);
}

} // namespace
