#include <godot_cpp/variant/array.hpp>

#include <godot_cpp/variant/variant.hpp>

#include "engine_errors.hpp"

namespace godot {

Array::Array() : data_(std::make_shared<std::vector<Variant>>()) {}

int64_t Array::size() const {
    return static_cast<int64_t>(data_->size());
}

void Array::push_back(const Variant& p_value) {
    data_->push_back(p_value);
}

const Variant& Array::operator[](int64_t p_index) const {
    if (p_index < 0 || p_index >= size()) {
        internal::index_fault("Array", p_index, size());
    }
    return (*data_)[static_cast<size_t>(p_index)];
}

Variant& Array::operator[](int64_t p_index) {
    if (p_index < 0 || p_index >= size()) {
        internal::index_fault("Array", p_index, size());
    }
    return (*data_)[static_cast<size_t>(p_index)];
}

bool Array::operator==(const Array& p_other) const {
    return Variant(*this) == Variant(p_other);
}

namespace internal {

void packed_array_index_fault(int64_t p_index, int64_t p_size) {
    index_fault("packed array", p_index, p_size);
}

}  // namespace internal
}  // namespace godot
