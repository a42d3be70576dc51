#pragma once

#include <cstdint>
#include <string>

namespace godot {

// A byte string as the engine hands it out (for example the UTF-8 form of a
// String). It always ends in a NUL that length() does not count.
class CharString {
public:
    CharString() = default;
    explicit CharString(std::string bytes) : bytes_(std::move(bytes)) {}

    const char* get_data() const { return bytes_.c_str(); }
    const char* ptr() const { return bytes_.c_str(); }
    int64_t length() const { return static_cast<int64_t>(bytes_.size()); }
    int64_t size() const { return length() + 1; }

private:
    std::string bytes_;
};

}  // namespace godot
