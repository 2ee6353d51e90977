#include <CoreFoundation/CoreFoundation.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

CFStringRef text(const char* s) {
    return CFStringCreateWithCString(nullptr, s, kCFStringEncodingUTF8);
}

CFNumberRef int32(SInt32 v) {
    return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
}

CFMutableDictionaryRef cf_type_dictionary() {
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

TEST(CFData, KeepsACopyOfItsBytes) {
    std::vector<UInt8> source = {1, 2, 3, 0, 255};
    CFDataRef d = CFDataCreate(nullptr, source.data(), static_cast<CFIndex>(source.size()));
    source.assign(source.size(), 9);
    ASSERT_EQ(CFDataGetLength(d), 5);
    EXPECT_EQ(std::vector<UInt8>(CFDataGetBytePtr(d), CFDataGetBytePtr(d) + 5),
              (std::vector<UInt8>{1, 2, 3, 0, 255}));
    CFRelease(d);

    CFDataRef empty = CFDataCreate(nullptr, nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(CFDataGetLength(empty), 0);
    EXPECT_NE(CFDataGetBytePtr(empty), nullptr);
    CFRelease(empty);

    EXPECT_EQ(CFDataCreate(nullptr, source.data(), -1), nullptr);
    EXPECT_EQ(CFDataCreate(nullptr, nullptr, 4), nullptr);
}

TEST(CFDictionary, RetainsKeysAndValuesUntilReplacedOrDestroyed) {
    CFStringRef key = text("name");
    CFStringRef equal_key = text("name");
    CFNumberRef first = int32(1);
    CFNumberRef second = int32(2);
    CFMutableDictionaryRef d = cf_type_dictionary();

    CFDictionarySetValue(d, key, first);
    EXPECT_EQ(CFGetRetainCount(key), 2);
    EXPECT_EQ(CFGetRetainCount(first), 2);

    // An equal key replaces the value: the new value is retained, the old one released,
    // and the first key stays.
    CFDictionarySetValue(d, equal_key, second);
    EXPECT_EQ(CFDictionaryGetCount(d), 1);
    EXPECT_EQ(CFDictionaryGetValue(d, key), second);
    EXPECT_EQ(CFGetRetainCount(first), 1);
    EXPECT_EQ(CFGetRetainCount(second), 2);
    EXPECT_EQ(CFGetRetainCount(key), 2);
    EXPECT_EQ(CFGetRetainCount(equal_key), 1);

    // Setting the value it already holds, as its only owner, must not free it in between.
    CFRelease(second);
    CFDictionarySetValue(d, key, CFDictionaryGetValue(d, key));
    EXPECT_EQ(CFGetRetainCount(CFDictionaryGetValue(d, key)), 1);

    CFRelease(d);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    CFRelease(key);
    CFRelease(equal_key);
    CFRelease(first);
}

TEST(CFDictionary, FindsKeysByValueNotByPointer) {
    CFMutableDictionaryRef d = cf_type_dictionary();
    const char* const names[] = {"version", "type", "subtype", "manufacturer", "name", "data"};
    for (SInt32 i = 0; i < 6; ++i) {
        CFStringRef k = text(names[i]);
        CFNumberRef v = int32(i);
        CFDictionarySetValue(d, k, v);
        CFRelease(k);
        CFRelease(v);
    }
    CFStringRef made = text("subtype");
    CFStringRef from_bytes = CFStringCreateWithBytes(
        nullptr, reinterpret_cast<const UInt8*>("manufacturer!"), 12, kCFStringEncodingUTF8, 0);
    struct Case {
        CFStringRef key;
        SInt32 expected; // -1: absent
    };
    const Case cases[] = {
        {CFSTR("type"), 1},  {made, 2},          {from_bytes, 3},
        {CFSTR("Type"), -1}, {CFSTR("typ"), -1}, {CFSTR("types"), -1},
    };
    EXPECT_EQ(CFDictionaryGetCount(d), 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const void* value = CFDictionaryGetValue(d, c.key);
        if (c.expected < 0) {
            EXPECT_EQ(value, nullptr);
            continue;
        }
        ASSERT_NE(value, nullptr);
        SInt32 got = -1;
        EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &got));
        EXPECT_EQ(got, c.expected);
    }
    CFRelease(made);
    CFRelease(from_bytes);

    // Number keys compare by value across types too.
    CFNumberRef three = int32(3);
    const double three_float = 3.0;
    CFNumberRef equal_three = CFNumberCreate(nullptr, kCFNumberFloat64Type, &three_float);
    CFDictionarySetValue(d, three, CFSTR("three"));
    EXPECT_EQ(CFDictionaryGetValue(d, equal_three), CFSTR("three"));
    CFRelease(three);
    CFRelease(equal_three);
    CFRelease(d);
}

TEST(CFDictionary, WithoutCallBacksKeepsAndComparesPointers) {
    CFStringRef key = text("k");
    CFStringRef equal_key = text("k");
    static const int value = 42;
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    CFDictionarySetValue(d, key, &value);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    EXPECT_EQ(CFDictionaryGetValue(d, key), &value);
    EXPECT_EQ(CFDictionaryGetValue(d, equal_key), nullptr);
    CFRelease(d);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    CFRelease(key);
    CFRelease(equal_key);

    EXPECT_EQ(CFDictionaryCreateMutable(nullptr, -1, nullptr, nullptr), nullptr);
}

TEST(CFArray, RetainsItsValuesInOrder) {
    CFStringRef a = text("a");
    CFNumberRef b = int32(2);
    const void* values[] = {a, b, a};
    CFArrayRef array = CFArrayCreate(nullptr, values, 3, &kCFTypeArrayCallBacks);
    ASSERT_EQ(CFArrayGetCount(array), 3);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 0), a);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 1), b);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 2), a);
    EXPECT_EQ(CFGetRetainCount(a), 3);
    EXPECT_EQ(CFGetRetainCount(b), 2);
    CFRelease(array);
    EXPECT_EQ(CFGetRetainCount(a), 1);
    EXPECT_EQ(CFGetRetainCount(b), 1);

    CFArrayRef unretained = CFArrayCreate(nullptr, values, 3, nullptr);
    EXPECT_EQ(CFGetRetainCount(a), 1);
    CFRelease(unretained);

    CFArrayRef empty = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(CFArrayGetCount(empty), 0);
    CFRelease(empty);
    EXPECT_EQ(CFArrayCreate(nullptr, values, -1, &kCFTypeArrayCallBacks), nullptr);
    EXPECT_EQ(CFArrayCreate(nullptr, nullptr, 2, &kCFTypeArrayCallBacks), nullptr);

    CFRelease(a);
    CFRelease(b);
}

// A preset's round trip as the adapter and a host make it: the writer hands each key and
// value to the dictionary and drops its own reference at once; the reader borrows. Under
// the leak checker this also shows that everything is freed with the dictionary.
TEST(CFDictionary, PresetRoundTripOwnsEverythingItHolds) {
    CFMutableDictionaryRef preset = cf_type_dictionary();
    const auto put = [preset](const char* name, CFTypeRef value) {
        CFStringRef key = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(name),
                                                  static_cast<CFIndex>(std::string(name).size()),
                                                  kCFStringEncodingUTF8, 0);
        CFDictionarySetValue(preset, key, value);
        CFRelease(key);
        CFRelease(value);
    };
    const UInt8 state[] = {0x76, 0x6C, 0x6B, 0x01, 0x00};
    put("version", int32(0));
    put("type", int32(0x61756678));
    put("name", text("Gentle \xE2\x80\x93 glue"));
    put("data", CFDataCreate(nullptr, state, sizeof state));

    CFPropertyListRef plist = preset; // what travels through the ClassInfo property
    ASSERT_EQ(CFGetTypeID(plist), CFDictionaryGetTypeID());
    const auto dict = static_cast<CFDictionaryRef>(plist);

    const void* type = CFDictionaryGetValue(dict, CFSTR("type"));
    ASSERT_NE(type, nullptr);
    ASSERT_EQ(CFGetTypeID(type), CFNumberGetTypeID());
    SInt32 type_code = 0;
    EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(type), kCFNumberSInt32Type, &type_code));
    EXPECT_EQ(type_code, 0x61756678);

    const void* name = CFDictionaryGetValue(dict, CFSTR("name"));
    ASSERT_EQ(CFGetTypeID(name), CFStringGetTypeID());
    char buffer[1024] = {};
    EXPECT_TRUE(CFStringGetCString(static_cast<CFStringRef>(name), buffer, sizeof buffer,
                                   kCFStringEncodingUTF8));
    EXPECT_STREQ(buffer, "Gentle \xE2\x80\x93 glue");

    const void* data = CFDictionaryGetValue(dict, CFSTR("data"));
    ASSERT_EQ(CFGetTypeID(data), CFDataGetTypeID());
    const auto bytes = static_cast<CFDataRef>(data);
    EXPECT_EQ(std::vector<UInt8>(CFDataGetBytePtr(bytes),
                                 CFDataGetBytePtr(bytes) + CFDataGetLength(bytes)),
              std::vector<UInt8>(std::begin(state), std::end(state)));

    EXPECT_EQ(CFDictionaryGetValue(dict, CFSTR("preset-number")), nullptr);
    CFRelease(plist);
}

} // namespace
