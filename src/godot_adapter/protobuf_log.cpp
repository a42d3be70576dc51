#include "godot_adapter/protobuf_log.hpp"

#include <google/protobuf/stubs/logging.h>

namespace qop::godot_adapter {

void silence_protobuf_log() {
    // Held for the library's lifetime. The Windows library carries its own
    // runtime, so nobody else is silenced there; where the runtime is a
    // shared system library (the Linux build) it is silenced for the whole
    // process until this library is unloaded.
    static const google::protobuf::LogSilencer silencer;
    static_cast<void>(silencer);
}

}  // namespace qop::godot_adapter
