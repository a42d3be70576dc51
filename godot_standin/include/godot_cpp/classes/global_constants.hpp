#pragma once

#include <cstdint>

namespace godot {

// The engine's error codes that this library meets.
enum Error {
    OK = 0,
    FAILED = 1,
    ERR_UNAVAILABLE = 2,
    ERR_UNCONFIGURED = 3,
    ERR_OUT_OF_MEMORY = 6,
    ERR_CANT_CREATE = 20,
    ERR_ALREADY_IN_USE = 22,
    ERR_CONNECTION_ERROR = 27,
    ERR_INVALID_PARAMETER = 31,
    ERR_BUSY = 44,
    ERR_BUG = 47,
};

}  // namespace godot
