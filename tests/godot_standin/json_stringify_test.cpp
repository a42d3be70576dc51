#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include <godot_cpp/classes/json.hpp>
#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace {

using godot::Array;
using godot::Dictionary;
using godot::JSON;
using godot::String;
using godot::Variant;

std::string utf8(const String& p_text) {
    const godot::CharString bytes = p_text.utf8();
    return std::string(bytes.get_data(), static_cast<size_t>(bytes.length()));
}

struct StringifyCase {
    const char* label;
    Variant value;
    const char* expected;
};

class StringifyScalars : public ::testing::TestWithParam<StringifyCase> {};

TEST_P(StringifyScalars, WritesTheEnginesText) {
    EXPECT_EQ(utf8(JSON::stringify(GetParam().value)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StringifyScalars,
    ::testing::Values(
        StringifyCase{"nil", Variant(), "null"}, StringifyCase{"true", Variant(true), "true"},
        StringifyCase{"false", Variant(false), "false"},
        StringifyCase{"int", Variant(int64_t(42)), "42"},
        StringifyCase{"negative_int", Variant(int64_t(-7)), "-7"},
        StringifyCase{"int64_max", Variant(std::numeric_limits<int64_t>::max()),
                      "9223372036854775807"},
        StringifyCase{"zero", Variant(0.0), "0.0"},
        StringifyCase{"negative_zero", Variant(-0.0), "0.0"},
        StringifyCase{"fifty", Variant(50.0), "50.0"},
        StringifyCase{"twelve_and_half", Variant(12.5), "12.5"},
        StringifyCase{"one_tenth", Variant(0.1), "0.1"},
        StringifyCase{"sum_with_rounding_noise", Variant(0.1 + 0.2), "0.3"},
        StringifyCase{"negative", Variant(-2.25), "-2.25"},
        StringifyCase{"third", Variant(1.0 / 3.0), "0.333333333333333"},
        StringifyCase{"large", Variant(123456789.125), "123456789.125"},
        StringifyCase{"huge", Variant(1e20), "100000000000000000000.0"},
        StringifyCase{"nan", Variant(std::nan("")), "nan"},
        StringifyCase{"inf", Variant(std::numeric_limits<double>::infinity()), "inf"},
        StringifyCase{"minus_inf", Variant(-std::numeric_limits<double>::infinity()), "-inf"},
        StringifyCase{"plain_string", Variant("abc"), "\"abc\""},
        StringifyCase{"escapes", Variant("a\\b\"c\b\f\n\r\t\vd"),
                      "\"a\\\\b\\\"c\\b\\f\\n\\r\\t\\vd\""},
        StringifyCase{"other_control_raw", Variant("\x01/"), "\"\x01/\""},
        StringifyCase{"non_ascii_raw", Variant(String::utf8("h\xC3\xA9 \xE4\xB8\xAD")),
                      "\"h\xC3\xA9 \xE4\xB8\xAD\""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(JsonStringify, SortsKeysByCodePointAndWritesNoSpaces) {
    Dictionary payload;
    payload["progressValue"] = 50.0;
    payload["eventId"] = "e1";
    payload["appId"] = int64_t(5);
    payload["occurredAt"] = int64_t(1700000000000);
    payload["Zed"] = true;
    payload[String::utf8("\xC3\xA9")] = Variant();
    EXPECT_EQ(utf8(JSON::stringify(payload)),
              "{\"Zed\":true,\"appId\":5,\"eventId\":\"e1\",\"occurredAt\":1700000000000,"
              "\"progressValue\":50.0,\"\xC3\xA9\":null}");
}

TEST(JsonStringify, KeepsInsertionOrderWhenNotSorting) {
    Dictionary payload;
    payload["b"] = int64_t(1);
    payload["a"] = int64_t(2);
    EXPECT_EQ(utf8(JSON::stringify(payload, "", false)), "{\"b\":1,\"a\":2}");
}

TEST(JsonStringify, WritesNestedContainersAndPackedArrays) {
    Dictionary inner;
    inner["k"] = Array();
    Array list;
    list.push_back(int64_t(1));
    list.push_back(inner);
    godot::PackedByteArray bytes;
    bytes.push_back(7);
    bytes.push_back(255);
    Dictionary outer;
    outer["list"] = list;
    outer["bytes"] = bytes;
    outer["empty"] = Dictionary();
    EXPECT_EQ(utf8(JSON::stringify(outer)),
              "{\"bytes\":[7,255],\"empty\":{},\"list\":[1,{\"k\":[]}]}");
}

TEST(JsonStringify, IndentsWithTheGivenText) {
    Dictionary payload;
    payload["a"] = int64_t(1);
    Array list;
    list.push_back(true);
    payload["b"] = list;
    EXPECT_EQ(utf8(JSON::stringify(payload, "  ")), "{\n  \"a\": 1,\n  \"b\": [\n    true\n  ]\n}");
}

TEST(JsonStringify, ACircularContainerEndsWithAMarker) {
    Array list;
    list.push_back(int64_t(1));
    list.push_back(list);
    EXPECT_EQ(utf8(JSON::stringify(list)), "[1,[...]]");
    list[1] = Variant();  // shared references in a cycle would never be freed
}

}  // namespace
