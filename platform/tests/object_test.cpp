#include <CoreFoundation/CoreFoundation.h>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

CFStringRef text(const char* s) {
    return CFStringCreateWithCString(nullptr, s, kCFStringEncodingUTF8);
}

CFNumberRef int32(SInt32 v) {
    return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
}

CFNumberRef float64(Float64 v) {
    return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v);
}

CFDataRef bytes(const std::string& s) {
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(s.data()),
                        static_cast<CFIndex>(s.size()));
}

// The collection helpers take over the references of the objects they are given.
CFArrayRef array(std::vector<CFTypeRef> values) {
    CFArrayRef a = CFArrayCreate(nullptr, values.data(), static_cast<CFIndex>(values.size()),
                                 &kCFTypeArrayCallBacks);
    for (CFTypeRef v : values) {
        CFRelease(v);
    }
    return a;
}

CFDictionaryRef dictionary(CFTypeRef key, CFTypeRef value) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(d, key, value);
    CFRelease(key);
    CFRelease(value);
    return d;
}

TEST(CFObject, RetainAndReleaseMoveTheCount) {
    CFStringRef s = text("gain");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFRetain(s), s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s); // the last reference: any later use is a use after free
}

TEST(CFObject, EachKindReportsItsOwnTypeId) {
    const CFTypeRef objects[] = {text("a"), int32(1), bytes("a"), array({}),
                                 CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr)};
    const CFTypeID ids[] = {CFStringGetTypeID(), CFNumberGetTypeID(), CFDataGetTypeID(),
                            CFArrayGetTypeID(), CFDictionaryGetTypeID()};
    EXPECT_EQ(std::set<CFTypeID>(std::begin(ids), std::end(ids)).size(), std::size(ids));
    for (std::size_t i = 0; i < std::size(objects); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(CFGetTypeID(objects[i]), ids[i]);
        CFRelease(objects[i]);
    }
}

TEST(CFObject, EqualityIsByContentsAndNeverAcrossTypes) {
    struct Case {
        const char* name;
        CFTypeRef a;
        CFTypeRef b;
        bool equal;
    };
    const Case cases[] = {
        {"distinct equal strings", text("Threshold"), text("Threshold"), true},
        {"strings differing in case", text("gain"), text("Gain"), false},
        {"integer and whole float", int32(3), float64(3.0), true},
        {"integer and fraction", int32(3), float64(3.5), false},
        {"negative zero and zero", int32(0), float64(-0.0), true},
        {"string and number", text("3"), int32(3), false},
        {"equal bytes", bytes("ab"), bytes("ab"), true},
        {"longer bytes", bytes("ab"), bytes("abc"), false},
        {"arrays of equal values", array({text("a"), int32(1)}), array({text("a"), float64(1)}),
         true},
        {"arrays in another order", array({text("a"), int32(1)}), array({int32(1), text("a")}),
         false},
        {"dictionaries of equal pairs", dictionary(text("k"), int32(1)),
         dictionary(text("k"), float64(1)), true},
        {"dictionaries with another value", dictionary(text("k"), int32(1)),
         dictionary(text("k"), int32(2)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.a, nullptr);
        ASSERT_NE(c.b, nullptr);
        EXPECT_EQ(CFEqual(c.a, c.b), c.equal ? 1 : 0);
        EXPECT_EQ(CFEqual(c.b, c.a), c.equal ? 1 : 0);
        if (c.equal) {
            EXPECT_EQ(CFHash(c.a), CFHash(c.b));
        }
        CFRelease(c.a);
        CFRelease(c.b);
    }
}

TEST(CFObject, ConstantStringsAreSharedAndNeverFreed) {
    CFStringRef first = CFSTR("preset-name");
    CFStringRef second = CFSTR("preset-name"); // another use site, same text
    EXPECT_EQ(first, second);
    EXPECT_EQ(__CFStringMakeConstantString("preset-name"), first);
    EXPECT_EQ(CFGetTypeID(first), CFStringGetTypeID());

    CFStringRef made = text("preset-name");
    EXPECT_TRUE(CFEqual(first, made));
    EXPECT_EQ(CFHash(first), CFHash(made));
    CFRelease(made);

    // Releasing a constant string, as callers may do with any string, changes nothing.
    const CFIndex count = CFGetRetainCount(first);
    CFRelease(CFRetain(first));
    CFRelease(first);
    EXPECT_EQ(CFGetRetainCount(first), count);
    char buffer[16] = {};
    EXPECT_TRUE(CFStringGetCString(first, buffer, sizeof buffer, kCFStringEncodingUTF8));
    EXPECT_STREQ(buffer, "preset-name");
}

TEST(CFObjectDeathTest, MisuseStopsWithAMessage) {
    std::array<std::uint64_t, 4> not_an_object{};
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease: null object");
    EXPECT_DEATH(CFRetain(nullptr), "CFRetain: null object");
    EXPECT_DEATH(CFGetTypeID(not_an_object.data()), "CFGetTypeID: not a CoreFoundation object");

    CFNumberRef n = int32(1);
    CFRetain(n); // one reference for the array below
    EXPECT_DEATH(CFStringGetLength(reinterpret_cast<CFStringRef>(n)),
                 "CFStringGetLength: object of the wrong type");
    EXPECT_DEATH(CFDictionaryGetValue(reinterpret_cast<CFDictionaryRef>(n), n),
                 "CFDictionaryGetValue: object of the wrong type");
    CFArrayRef a = array({n});
    EXPECT_DEATH(CFArrayGetValueAtIndex(a, 1), "CFArrayGetValueAtIndex: index out of bounds");
    EXPECT_DEATH(CFArrayGetValueAtIndex(a, -1), "CFArrayGetValueAtIndex: index out of bounds");
    CFRelease(a);
    CFRelease(n);
}

TEST(CFObjectConcurrency, LastReleaseOnAnyThreadFreesOnce) {
    constexpr int threads = 4;
    for (int round = 0; round < 50; ++round) {
        CFStringRef s = text("shared between threads");
        for (int i = 1; i < threads; ++i) {
            CFRetain(s);
        }
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i) {
            workers.emplace_back([s] {
                // Each thread reads the contents before dropping its reference, so a
                // release without ordering would race with the free.
                char buffer[32] = {};
                EXPECT_TRUE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8));
                CFRelease(s);
            });
        }
        for (std::thread& t : workers) {
            t.join();
        }
    }
}

TEST(CFObjectConcurrency, RetainReleasePairsKeepTheCount) {
    CFNumberRef n = int32(7);
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([n] {
            for (int k = 0; k < 10000; ++k) {
                CFRelease(CFRetain(n));
            }
        });
    }
    for (std::thread& t : workers) {
        t.join();
    }
    EXPECT_EQ(CFGetRetainCount(n), 1);
    CFRelease(n);
}

TEST(CFObjectConcurrency, ConstantStringsAreMadeOnceAcrossThreads) {
    std::array<CFStringRef, 4> seen{};
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        workers.emplace_back(
            [&seen, i] { seen[i] = __CFStringMakeConstantString("made once across threads"); });
    }
    for (std::thread& t : workers) {
        t.join();
    }
    for (CFStringRef s : seen) {
        EXPECT_EQ(s, seen[0]);
    }
    EXPECT_EQ(CFStringGetLength(seen[0]), 24);
}

} // namespace
