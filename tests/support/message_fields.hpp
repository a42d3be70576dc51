#pragma once

// Flattens a parsed protobuf message into "path=value" lines so that a test
// can state exactly which fields a hand-made byte string sets. Unknown fields
// appear as "path#unknown=N" with their field number.

#include <string>
#include <vector>

#include <google/protobuf/message.h>

namespace qop::test {

std::vector<std::string> set_fields(const google::protobuf::Message& message);

}  // namespace qop::test

namespace qop::test {

// A GoogleTest-safe case name from the first expected field line, e.g.
// "attached.user_id=b" at index 3 becomes "3_attached_user_id".
std::string case_name(const std::vector<std::string>& fields, std::size_t index);

}  // namespace qop::test
