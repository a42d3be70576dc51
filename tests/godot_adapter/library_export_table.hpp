#pragma once

// Reads the names a built shared library exports, straight from its bytes:
// the defined, visible dynamic symbols of an ELF object, or the export
// directory of a PE image.

#include <cstdint>
#include <string>
#include <vector>

namespace qop::godot_adapter::testing {

struct ExportTable {
    std::vector<std::string> names;
    // PE images can export by ordinal only; this counts every exported
    // function, named or not. For ELF it equals names.size().
    std::uint32_t function_count = 0;
};

// False with `error` set when the bytes are neither a 64-bit little-endian
// ELF shared object nor a PE32+ image, or when a table lies outside the file.
bool read_export_table(const std::vector<std::uint8_t>& image, ExportTable& table,
                       std::string& error);

}  // namespace qop::godot_adapter::testing
