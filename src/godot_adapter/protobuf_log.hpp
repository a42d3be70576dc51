#pragma once

// The library reports its failures to the game through signals and writes no
// log of its own. The protobuf runtime it carries would otherwise print
// "[libprotobuf ERROR ...]" lines to the game's standard error for input the
// library already reports, such as a malformed frame from the desktop client.

namespace qop::godot_adapter {

// Discards the protobuf runtime's warnings and errors from the first call
// until the library is unloaded; a fatal message, which ends the process,
// still reaches the runtime's own handler. Safe to call more than once and
// from any thread.
void silence_protobuf_log();

}  // namespace qop::godot_adapter
