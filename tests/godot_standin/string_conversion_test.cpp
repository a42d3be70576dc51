#include <string>

#include <gtest/gtest.h>

#include <godot_cpp/variant/string.hpp>
#include <godot_cpp/variant/string_name.hpp>

namespace {

using godot::String;

std::u32string points(const String& p_text) {
    return p_text.code_points();
}

std::string utf8(const String& p_text) {
    const godot::CharString bytes = p_text.utf8();
    return std::string(bytes.get_data(), static_cast<size_t>(bytes.length()));
}

struct DecodeCase {
    const char* label;
    std::string bytes;
    std::u32string expected;
};

class Utf8Decoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8Decoding, DecodesWithReplacementForInvalidSequences) {
    const std::string& bytes = GetParam().bytes;
    EXPECT_EQ(points(String::utf8(bytes.data(), static_cast<int64_t>(bytes.size()))),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8Decoding,
    ::testing::Values(DecodeCase{"ascii", "abc", U"abc"},
                      DecodeCase{"two_byte", "\xC3\xA9", U"\u00E9"},
                      DecodeCase{"three_byte", "\xE4\xB8\xAD", U"\u4E2D"},
                      DecodeCase{"four_byte", "\xF0\x9F\x98\x80", U"\U0001F600"},
                      DecodeCase{"bom_skipped", "\xEF\xBB\xBFok", U"ok"},
                      DecodeCase{"second_bom_kept", "\xEF\xBB\xBF\xEF\xBB\xBF", U"\uFEFF"},
                      DecodeCase{"stray_continuation", "a\x80z", U"a\uFFFDz"},
                      DecodeCase{"invalid_lead", "\xFF\xFE", U"\uFFFD\uFFFD"},
                      DecodeCase{"truncated_at_end", "a\xE4\xB8", U"a\uFFFD\uFFFD"},
                      DecodeCase{"broken_sequence", "\xE4x\xB8", U"\uFFFDx\uFFFD"},
                      DecodeCase{"overlong", "\xC0\xAF", U"\uFFFD\uFFFD"},
                      DecodeCase{"encoded_surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"above_unicode", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"stops_at_nul", std::string("ab\0cd", 5), U"ab"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(StringConversion, ALengthLimitsTheBytesRead) {
    EXPECT_EQ(points(String::utf8("abcdef", 3)), U"abc");
    // A limit that cuts a sequence leaves a replacement, never a read past it.
    EXPECT_EQ(points(String::utf8("\xE4\xB8\xAD", 2)), U"\uFFFD\uFFFD");
    EXPECT_EQ(points(String::utf8(nullptr)), U"");
}

TEST(StringConversion, ConstructingFromCharReadsLatin1) {
    // The same bytes read as Latin-1 are two code points, not one.
    EXPECT_EQ(points(String("\xC3\xA9")), U"\u00C3\u00A9");
    EXPECT_EQ(utf8(String("\xE9")), "\xC3\xA9");
    EXPECT_EQ(utf8(String("\xC3\xA9")), "\xC3\x83\xC2\xA9");
}

TEST(StringConversion, EncodesUtf8AndRoundTrips) {
    const std::string text = "h\xC3\xA9llo \xE4\xB8\xAD \xF0\x9F\x98\x80";
    const String decoded = String::utf8(text.c_str());
    EXPECT_EQ(decoded.length(), 9);
    EXPECT_EQ(utf8(decoded), text);
    EXPECT_EQ(decoded.utf8().length(), static_cast<int64_t>(text.size()));
}

TEST(StringConversion, InvalidCodePointsEncodeAsReplacement) {
    const char32_t surrogate[] = {0xD800, 0x110000, 'a', 0};
    EXPECT_EQ(utf8(String(surrogate)),
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "a");
}

struct StripCase {
    std::u32string text;
    bool left;
    bool right;
    std::u32string expected;
};

TEST(StringConversion, StripEdgesRemovesCodePointsUpTo32) {
    const StripCase cases[] = {
        {U"  key ", true, true, U"key"},
        {U"\t\n\r\x01key\x1F\x20", true, true, U"key"},
        {U"   ", true, true, U""},
        {U"", true, true, U""},
        {U" a b ", true, false, U"a b "},
        {U" a b ", false, true, U" a b"},
        {U"\u00A0key\u3000", true, true, U"\u00A0key\u3000"},  // wider spaces stay
        {U"\x21x", true, true, U"\x21x"},
    };
    for (const StripCase& c : cases) {
        EXPECT_EQ(points(String(c.text.c_str()).strip_edges(c.left, c.right)), c.expected);
    }
}

}  // namespace
