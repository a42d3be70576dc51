#include "shared/untrusted_json.hpp"

#include <gtest/gtest.h>

#include <string>

namespace qop::network {
namespace {

struct DepthCase {
    const char* name;
    std::string text;
    bool within;
};

TEST(UntrustedJson, NestingDepthCountsOnlyBracketsOutsideStrings) {
    const std::vector<DepthCase> cases = {
        {"64 lists", std::string(64, '[') + std::string(64, ']'), true},
        {"65 lists", std::string(65, '[') + std::string(65, ']'), false},
        {"64 mixed", std::string(32, '[') + std::string(32, '{'), true},
        {"65 unclosed", std::string(65, '{'), false},
        {"brackets in a string", "\"" + std::string(100, '[') + "\"", true},
        {"escaped quote keeps the string open", "\"\\\"" + std::string(100, '{') + "\"", true},
        {"escaped backslash closes the string", "\"\\\\\"" + std::string(65, '{'), false},
        {"stray closers do not lower below zero", std::string(10, ']') + std::string(65, '['),
         false},
        {"siblings",
         [] {
             std::string s;
             for (int i = 0; i < 1000; ++i)
                 s += "[[]]";
             return s;
         }(),
         true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json_nesting_within(c.text, 64), c.within) << c.name;
    }
}

struct Utf8Case {
    const char* name;
    std::string text;
    bool valid;
};

TEST(UntrustedJson, Utf8Validation) {
    const std::vector<Utf8Case> cases = {
        {"ascii", "token-1", true},
        {"empty", "", true},
        {"two-byte", "\xC3\xA9", true},
        {"three-byte", "\xE2\x82\xAC", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"largest code point", "\xF4\x8F\xBF\xBF", true},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lone continuation", "\x80", false},
        {"truncated two-byte", "\xC3", false},
        {"truncated four-byte", "\xF0\x9F\x98", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"invalid lead", "\xFF", false},
        {"bad continuation", "\xE2\x28\xA1", false},
        {"embedded NUL", std::string("a\0b", 3), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_utf8(c.text), c.valid) << c.name;
    }
}

}  // namespace
}  // namespace qop::network
