#pragma once

// Hand-written wire bytes for tests: hexadecimal byte pairs separated by
// spaces, with "quoted" runs taken as their raw characters, for example
// R"(0A 05 "godot" 10 07)".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qop::test {

std::vector<std::uint8_t> wire_bytes(std::string_view notation);
std::string wire_string(std::string_view notation);

// Upper-case hexadecimal pairs separated by single spaces, for messages.
std::string to_hex(const std::vector<std::uint8_t>& bytes);
std::string to_hex(const std::string& bytes);

}  // namespace qop::test
