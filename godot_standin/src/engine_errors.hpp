#pragma once

#include <cstdint>
#include <string>

namespace godot_standin {
enum class ErrorKind;
}

namespace godot {
namespace internal {

// An error the engine itself prints (a bad signal, a refused registration):
// it goes to the engine host's error list, or to stderr without a host.
void report_engine_error(const std::string& p_message, const char* p_function);
void record_engine_error(godot_standin::ErrorKind p_kind, const std::string& p_message,
                         const char* p_function);

// An error of the binding, printed through the engine's print_error once the
// library was loaded (directly to the host or stderr before that).
void print_binding_error(const std::string& p_message, const char* p_function);

// An out-of-range container index: the engine treats it as fatal.
[[noreturn]] void index_fault(const char* p_container, int64_t p_index, int64_t p_size);

}  // namespace internal
}  // namespace godot
