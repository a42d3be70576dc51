#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include <godot_cpp/variant/variant.hpp>

namespace {

using godot::Array;
using godot::Dictionary;
using godot::String;
using godot::Variant;

std::string text(const Variant& p_value) {
    const godot::CharString bytes = p_value.stringify().utf8();
    return std::string(bytes.get_data(), static_cast<size_t>(bytes.length()));
}

TEST(VariantConversion, NumbersAndTextsConvertLikeTheEngine) {
    EXPECT_EQ(static_cast<int64_t>(Variant(2.9)), 2);
    EXPECT_EQ(static_cast<int64_t>(Variant(-2.9)), -2);
    EXPECT_EQ(static_cast<int64_t>(Variant(std::nan(""))), 0);
    EXPECT_EQ(static_cast<int64_t>(Variant(1e300)), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(static_cast<int64_t>(Variant(" 42abc")), 42);
    EXPECT_EQ(static_cast<int64_t>(Variant("x")), 0);
    EXPECT_EQ(static_cast<int64_t>(Variant("99999999999999999999")),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(static_cast<double>(Variant("2.5e1x")), 25.0);
    EXPECT_EQ(static_cast<double>(Variant(true)), 1.0);
    EXPECT_FALSE(static_cast<bool>(Variant("")));
    EXPECT_TRUE(static_cast<bool>(Variant("0")));
    EXPECT_FALSE(static_cast<bool>(Variant(Dictionary())));
    EXPECT_EQ(static_cast<Dictionary>(Variant(3)).size(), 0);
    EXPECT_EQ(static_cast<int64_t>(Variant(uint32_t(4000000000u))), 4000000000);
}

TEST(VariantConversion, EveryValueHasTheEnginesText) {
    Dictionary d;
    d["k"] = "v";
    Array a;
    a.push_back(1);
    a.push_back("s");
    EXPECT_EQ(text(Variant()), "<null>");
    EXPECT_EQ(text(Variant(false)), "false");
    EXPECT_EQ(text(Variant(-12)), "-12");
    EXPECT_EQ(text(Variant(3.0)), "3.0");
    EXPECT_EQ(text(Variant(0.25)), "0.25");
    EXPECT_EQ(text(Variant("plain")), "plain");
    EXPECT_EQ(text(a), "[1, \"s\"]");
    EXPECT_EQ(text(d), "{ \"k\": \"v\" }");
    EXPECT_EQ(text(Dictionary()), "{}");
}

TEST(VariantConversion, EqualityComparesValuesAcrossNumberKinds) {
    EXPECT_TRUE(Variant(1) == Variant(1.0));
    EXPECT_FALSE(Variant(1) == Variant("1"));
    EXPECT_TRUE(Variant("a") == Variant(godot::StringName("a")));
    EXPECT_FALSE(Variant(true) == Variant(1));
    EXPECT_TRUE(Variant() == Variant());
    Array a;
    a.push_back(1);
    Array b;
    b.push_back(1.0);
    EXPECT_TRUE(Variant(a) == Variant(b));
    b.push_back(2);
    EXPECT_FALSE(Variant(a) == Variant(b));
}

TEST(VariantConversion, ArraysAndPackedArraysConvertIntoEachOther) {
    Array a;
    a.push_back(300);
    a.push_back(2);
    const godot::PackedByteArray bytes = Variant(a);
    ASSERT_EQ(bytes.size(), 2);
    EXPECT_EQ(bytes[0], 44);  // wraps like the engine's narrowing
    const Array back = Variant(bytes);
    EXPECT_TRUE(back[1] == Variant(2));
}

}  // namespace
