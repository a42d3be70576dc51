#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include <godot_cpp/classes/json.hpp>
#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace {

using godot::Array;
using godot::Dictionary;
using godot::JSON;
using godot::String;
using godot::Variant;

Variant parse(const std::string& p_utf8) {
    return JSON::parse_string(String::utf8(p_utf8.data(), static_cast<int64_t>(p_utf8.size())));
}

struct ParseCase {
    const char* label;
    std::string text;
    Variant expected;
};

class ParseValues : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseValues, ReadsTheValueOrGivesNil) {
    const Variant result = parse(GetParam().text);
    EXPECT_EQ(result.get_type(), GetParam().expected.get_type()) << GetParam().text;
    EXPECT_TRUE(result == GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Scalars, ParseValues,
    ::testing::Values(
        ParseCase{"int_becomes_float", "42", Variant(42.0)},
        ParseCase{"negative", "-7", Variant(-7.0)}, ParseCase{"fraction", "12.5", Variant(12.5)},
        ParseCase{"exponent", "1e3", Variant(1000.0)},
        ParseCase{"negative_exponent", "25E-1", Variant(2.5)},
        ParseCase{"leading_zero_kept_lenient", "007", Variant(7.0)},
        ParseCase{"true", "true", Variant(true)}, ParseCase{"false", " false ", Variant(false)},
        ParseCase{"null_is_nil", "null", Variant()},
        ParseCase{"string", "\"a\\nb\\u00e9\\\"\\/\"", Variant(String::utf8("a\nb\xC3\xA9\"/"))},
        ParseCase{"surrogate_pair", "\"\\ud83d\\ude00\"",
                  Variant(String::utf8("\xF0\x9F\x98\x80"))},
        ParseCase{"raw_utf8", "\"\xE4\xB8\xAD\"", Variant(String::utf8("\xE4\xB8\xAD"))},
        ParseCase{"control_whitespace", "\x01\x1f 5\x7f", Variant()},
        ParseCase{"whitespace_below_33", "\x01\x1f 5\x20", Variant(5.0)},
        ParseCase{"huge_number_is_inf", "1e999", Variant(HUGE_VAL)},
        ParseCase{"empty", "", Variant()}, ParseCase{"only_spaces", "   ", Variant()},
        ParseCase{"trailing_garbage", "1 x", Variant()},
        ParseCase{"two_values", "{} {}", Variant()},
        ParseCase{"unterminated_string", "\"abc", Variant()},
        ParseCase{"bad_escape", "\"\\x\"", Variant()},
        ParseCase{"lone_trail_surrogate", "\"\\udc00\"", Variant()},
        ParseCase{"lone_lead_surrogate", "\"\\ud800x\"", Variant()},
        ParseCase{"short_unicode_escape", "\"\\u12\"", Variant()},
        ParseCase{"bare_word", "nul", Variant()}, ParseCase{"word_suffix", "truex", Variant()},
        ParseCase{"single_quotes", "'a'", Variant()}, ParseCase{"minus_alone", "-", Variant()},
        ParseCase{"point_without_digits", "1.", Variant()},
        ParseCase{"leading_point", ".5", Variant()},
        ParseCase{"unclosed_object", "{\"a\":1", Variant()},
        ParseCase{"key_not_string", "{a:1}", Variant()},
        ParseCase{"missing_colon", "{\"a\" 1}", Variant()},
        ParseCase{"missing_comma", "[1 2]", Variant()},
        ParseCase{"leading_comma", "[,1]", Variant()}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(JsonParse, AcceptsATrailingCommaAsTheEngineDoes) {
    const Variant list = parse("[1,]");
    // The engine's reader closes an array or object after a trailing comma.
    ASSERT_EQ(list.get_type(), Variant::ARRAY);
    EXPECT_EQ(static_cast<Array>(list).size(), 1);
    const Variant object = parse("{\"a\":1,}");
    ASSERT_EQ(object.get_type(), Variant::DICTIONARY);
    EXPECT_EQ(static_cast<Dictionary>(object).size(), 1);
}

TEST(JsonParse, ObjectsBecomeDictionariesInTextOrderAndTheLastDuplicateWins) {
    const Variant value = parse("{\"b\":1,\"a\":{\"n\":[true,null,\"x\"]},\"b\":2}");
    ASSERT_EQ(value.get_type(), Variant::DICTIONARY);
    const Dictionary object = value;
    ASSERT_EQ(object.size(), 2);
    EXPECT_TRUE(object.keys()[0] == Variant("b"));
    EXPECT_TRUE(object.keys()[1] == Variant("a"));
    EXPECT_EQ(object["b"].get_type(), Variant::FLOAT);
    EXPECT_EQ(static_cast<double>(object["b"]), 2.0);
    const Array inner = static_cast<Dictionary>(object["a"])["n"];
    ASSERT_EQ(inner.size(), 3);
    EXPECT_TRUE(inner[0] == Variant(true));
    EXPECT_EQ(inner[1].get_type(), Variant::NIL);
    EXPECT_TRUE(inner[2] == Variant("x"));
}

TEST(JsonParse, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(parse(deep).get_type(), Variant::NIL);
    const std::string fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_EQ(parse(fine).get_type(), Variant::ARRAY);
}

TEST(JsonParse, ManyKeysParseQuickly) {
    std::string text = "{";
    for (int i = 0; i < 20000; ++i) {
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    }
    text += "}";
    const Dictionary object = parse(text);
    EXPECT_EQ(object.size(), 20000);
    EXPECT_EQ(static_cast<double>(object["k19999"]), 19999.0);
}

TEST(JsonParse, RoundTripsWhatStringifyWrites) {
    const Variant original = parse("{\"a\":[1.5,\"t\\u0001\"],\"b\":{\"c\":false}}");
    EXPECT_EQ(JSON::stringify(parse(JSON::stringify(original).utf8().get_data())),
              JSON::stringify(original));
}

}  // namespace
