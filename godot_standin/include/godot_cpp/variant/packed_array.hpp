#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace godot {
namespace internal {

[[noreturn]] void packed_array_index_fault(int64_t p_index, int64_t p_size);

// The storage behind the engine's packed arrays: a value type whose copies
// share one buffer until one of them writes (copy-on-write).
template <typename T>
class PackedArray {
public:
    PackedArray() = default;

    int64_t size() const { return data_ ? static_cast<int64_t>(data_->size()) : 0; }
    bool is_empty() const { return size() == 0; }

    int64_t resize(int64_t p_size) {
        if (p_size < 0) {
            return 31;  // ERR_INVALID_PARAMETER, as the engine answers a negative size.
        }
        detach().resize(static_cast<size_t>(p_size));
        return 0;
    }
    bool push_back(const T& p_value) {
        detach().push_back(p_value);
        return true;
    }

    const T* ptr() const { return data_ ? data_->data() : nullptr; }
    T* ptrw() { return data_ ? detach().data() : nullptr; }

    const T& operator[](int64_t p_index) const {
        check_index(p_index);
        return (*data_)[static_cast<size_t>(p_index)];
    }
    T& operator[](int64_t p_index) {
        check_index(p_index);
        return detach()[static_cast<size_t>(p_index)];
    }

    bool operator==(const PackedArray& p_other) const {
        return data_ == p_other.data_ || elements() == p_other.elements();
    }
    bool operator!=(const PackedArray& p_other) const { return !(*this == p_other); }

    // Whether two values share one buffer (that is, neither has written yet).
    bool shares_buffer_with(const PackedArray& p_other) const {
        return data_ != nullptr && data_ == p_other.data_;
    }
    std::vector<T> elements() const { return data_ ? *data_ : std::vector<T>(); }

private:
    void check_index(int64_t p_index) const {
        if (p_index < 0 || p_index >= size()) {
            packed_array_index_fault(p_index, size());
        }
    }
    std::vector<T>& detach() {
        if (!data_) {
            data_ = std::make_shared<std::vector<T>>();
        } else if (data_.use_count() > 1) {
            data_ = std::make_shared<std::vector<T>>(*data_);
        }
        return *data_;
    }

    std::shared_ptr<std::vector<T>> data_;
};

}  // namespace internal
}  // namespace godot
