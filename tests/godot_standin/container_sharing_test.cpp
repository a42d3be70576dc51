#include <gtest/gtest.h>

#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/packed_int32_array.hpp>
#include <godot_cpp/variant/packed_string_array.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace {

using godot::Array;
using godot::Dictionary;
using godot::String;
using godot::Variant;

TEST(Containers, DictionaryCopiesShareOneDictionary) {
    Dictionary first;
    Dictionary second = first;
    second["a"] = 1;
    EXPECT_EQ(first.size(), 1);
    Variant held = first;
    static_cast<Dictionary>(held)["b"] = 2;
    EXPECT_EQ(second.size(), 2);
    EXPECT_TRUE(first.is_same_instance(second));
}

TEST(Containers, DictionaryIteratesInInsertionOrderAndOverwritesInPlace) {
    Dictionary d;
    d["z"] = 1;
    d["a"] = 2;
    d.set("m", 3);
    d["z"] = 4;
    const Array keys = d.keys();
    ASSERT_EQ(keys.size(), 3);
    EXPECT_TRUE(keys[0] == Variant("z"));
    EXPECT_TRUE(keys[1] == Variant("a"));
    EXPECT_TRUE(keys[2] == Variant("m"));
    EXPECT_EQ(static_cast<int64_t>(d["z"]), 4);
}

TEST(Containers, DictionaryGetUsesTheDefaultOnlyWhenMissing) {
    Dictionary d;
    d["present"] = Variant();
    EXPECT_EQ(d.get("present", 5).get_type(), Variant::NIL);
    EXPECT_EQ(static_cast<int64_t>(d.get("missing", 5)), 5);
    EXPECT_TRUE(d.has("present"));
    EXPECT_FALSE(d.has("missing"));
    // Reading a missing key through a const dictionary adds nothing.
    const Dictionary& view = d;
    EXPECT_EQ(view["missing"].get_type(), Variant::NIL);
    EXPECT_EQ(d.size(), 1);
}

TEST(Containers, DictionaryKeysOfDifferentKindsStayApart) {
    Dictionary d;
    d[1] = "int";
    d[1.0] = "float";
    d["1"] = "string";
    EXPECT_EQ(d.size(), 3);
    EXPECT_EQ(String(d[1]), String("int"));
}

TEST(Containers, DictionarySetFromItsOwnValueIsSafe) {
    Dictionary d;
    d["a"] = "first";
    for (int i = 0; i < 100; ++i) {
        d.set(Variant(int64_t(i)), d["a"]);
    }
    EXPECT_EQ(String(d[99]), String("first"));
    Variant& held = d["a"];
    for (int i = 100; i < 200; ++i) {
        d[int64_t(i)] = i;
    }
    held = "changed";
    EXPECT_EQ(String(d["a"]), String("changed"));
}

TEST(Containers, ArrayCopiesShareOneArray) {
    Array first;
    Array second = first;
    second.push_back(1);
    Variant held = second;
    static_cast<Array>(held).push_back("x");
    ASSERT_EQ(first.size(), 2);
    first[0] = 9;
    EXPECT_EQ(static_cast<int64_t>(second[0]), 9);
}

TEST(Containers, PackedArraysCopyOnWrite) {
    godot::PackedByteArray first;
    first.push_back(1);
    first.push_back(2);
    godot::PackedByteArray second = first;
    EXPECT_TRUE(second.shares_buffer_with(first));
    second[0] = 9;
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(second[0], 9);
    godot::PackedByteArray third = first;
    third.ptrw()[1] = 7;
    third.resize(4);
    EXPECT_EQ(first.size(), 2);
    EXPECT_EQ(first[1], 2);
    EXPECT_EQ(third.size(), 4);
    // A packed array held in a Variant is a copy as well.
    Variant held = first;
    godot::PackedByteArray out = held;
    out.push_back(3);
    EXPECT_EQ(first.size(), 2);
}

TEST(Containers, PackedArraysOfOtherElements) {
    godot::PackedInt32Array ints;
    ints.push_back(-5);
    ints.push_back(6);
    EXPECT_EQ(ints.ptr()[0], -5);
    godot::PackedStringArray strings;
    strings.push_back("a");
    godot::PackedStringArray copy = strings;
    copy.push_back("b");
    EXPECT_EQ(strings.size(), 1);
    EXPECT_EQ(copy[1], String("b"));
    EXPECT_EQ(godot::PackedByteArray().ptr(), nullptr);
    EXPECT_EQ(ints.resize(-1), 31);
}

}  // namespace
