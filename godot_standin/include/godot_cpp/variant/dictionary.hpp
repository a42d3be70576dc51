#pragma once

#include <cstdint>
#include <memory>

namespace godot {

class Array;
class Variant;

// The engine's dictionary: a shared reference that iterates its keys in the
// order they were first inserted.
class Dictionary {
public:
    Dictionary();

    int64_t size() const;
    bool is_empty() const { return size() == 0; }
    bool has(const Variant& p_key) const;
    Variant get(const Variant& p_key, const Variant& p_default) const;
    void set(const Variant& p_key, const Variant& p_value);
    Array keys() const;
    const Variant& operator[](const Variant& p_key) const;
    Variant& operator[](const Variant& p_key);

    bool operator==(const Dictionary& p_other) const;
    bool operator!=(const Dictionary& p_other) const { return !(*this == p_other); }
    // Whether both refer to the same engine dictionary.
    bool is_same_instance(const Dictionary& p_other) const { return data_ == p_other.data_; }
    const void* id() const { return data_.get(); }

    struct Data;

private:
    std::shared_ptr<Data> data_;
};

}  // namespace godot
