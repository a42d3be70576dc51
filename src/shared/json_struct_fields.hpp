#pragma once

#include <string>

#include <google/protobuf/struct.pb.h>

namespace qop::network {

// The value under `key` of a JSON object parsed into a Struct; null when the
// object has no such key.
inline const google::protobuf::Value* find_struct_field(const google::protobuf::Struct& object,
                                                        const std::string& key) {
    const auto it = object.fields().find(key);
    return it == object.fields().end() ? nullptr : &it->second;
}

}  // namespace qop::network
