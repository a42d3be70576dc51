#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace godot {

class Variant;

// The engine's array: a shared reference; copies see each other's changes.
class Array {
public:
    Array();

    int64_t size() const;
    bool is_empty() const { return size() == 0; }
    void push_back(const Variant& p_value);
    const Variant& operator[](int64_t p_index) const;
    Variant& operator[](int64_t p_index);

    bool operator==(const Array& p_other) const;
    bool operator!=(const Array& p_other) const { return !(*this == p_other); }
    // Whether both refer to the same engine array.
    bool is_same_instance(const Array& p_other) const { return data_ == p_other.data_; }
    const void* id() const { return data_.get(); }

private:
    std::shared_ptr<std::vector<Variant>> data_;
};

}  // namespace godot
