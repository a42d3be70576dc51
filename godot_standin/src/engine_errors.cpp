#include "engine_errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <godot_standin/engine_host.hpp>

namespace godot {
namespace internal {

void report_engine_error(const std::string& p_message, const char* p_function) {
    record_engine_error(godot_standin::ErrorKind::Engine, p_message, p_function);
}

void record_engine_error(godot_standin::ErrorKind p_kind, const std::string& p_message,
                         const char* p_function) {
    const std::string function = p_function != nullptr ? p_function : "";
    if (godot_standin::EngineHost* host = godot_standin::EngineHost::current()) {
        host->record_error(p_kind, p_message, function);
        return;
    }
    std::fprintf(stderr, "ERROR: %s (in %s)\n", p_message.c_str(), function.c_str());
}

void index_fault(const char* p_container, int64_t p_index, int64_t p_size) {
    std::fprintf(stderr, "FATAL: %s index %lld is out of bounds (size %lld).\n", p_container,
                 static_cast<long long>(p_index), static_cast<long long>(p_size));
    std::abort();
}

}  // namespace internal
}  // namespace godot
