#include <godot_cpp/core/type_info.hpp>
#include <vector>

#include "engine_errors.hpp"
#include "script_calls.hpp"

namespace godot {
namespace internal {

std::string enum_class_info_name(const char* p_qualified_name) {
    std::vector<std::string> parts;
    std::string name = p_qualified_name;
    size_t start = 0;
    while (true) {
        const size_t separator = name.find("::", start);
        std::string part = name.substr(start, separator - start);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (separator == std::string::npos) {
            break;
        }
        start = separator + 2;
    }
    if (parts.empty()) {
        return "";
    }
    if (parts.size() == 1) {
        return parts[0];
    }
    return parts[parts.size() - 2] + "." + parts[parts.size() - 1];
}

void report_missing_enum_cast(const StringName& p_constant) {
    print_binding_error("Missing VARIANT_ENUM_CAST for constant's enum: " + to_utf8(p_constant),
                        "_gde_constant_get_enum_name");
}

}  // namespace internal
}  // namespace godot
