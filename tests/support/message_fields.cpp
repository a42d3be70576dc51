#include "support/message_fields.hpp"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/unknown_field_set.h>

#include "support/wire_hex.hpp"

namespace qop::test {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

void collect(const Message& message, const std::string& prefix, std::vector<std::string>& out);

std::string scalar_text(const Message& message, const FieldDescriptor* field, int index) {
    const Reflection* r = message.GetReflection();
    const bool rep = field->is_repeated();
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_BOOL:
            return (rep ? r->GetRepeatedBool(message, field, index) : r->GetBool(message, field))
                       ? "true"
                       : "false";
        case FieldDescriptor::CPPTYPE_UINT32:
            return std::to_string(rep ? r->GetRepeatedUInt32(message, field, index)
                                      : r->GetUInt32(message, field));
        case FieldDescriptor::CPPTYPE_UINT64:
            return std::to_string(rep ? r->GetRepeatedUInt64(message, field, index)
                                      : r->GetUInt64(message, field));
        case FieldDescriptor::CPPTYPE_INT32:
            return std::to_string(rep ? r->GetRepeatedInt32(message, field, index)
                                      : r->GetInt32(message, field));
        case FieldDescriptor::CPPTYPE_INT64:
            return std::to_string(rep ? r->GetRepeatedInt64(message, field, index)
                                      : r->GetInt64(message, field));
        case FieldDescriptor::CPPTYPE_ENUM:
            return std::to_string(rep ? r->GetRepeatedEnumValue(message, field, index)
                                      : r->GetEnumValue(message, field));
        case FieldDescriptor::CPPTYPE_STRING: {
            const std::string value =
                rep ? r->GetRepeatedString(message, field, index) : r->GetString(message, field);
            return field->type() == FieldDescriptor::TYPE_BYTES ? "[" + to_hex(value) + "]" : value;
        }
        default:
            return "?";
    }
}

void collect_field(const Message& message, const FieldDescriptor* field, const std::string& path,
                   int index, std::vector<std::string>& out) {
    const Reflection* r = message.GetReflection();
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
        const Message& child = field->is_repeated() ? r->GetRepeatedMessage(message, field, index)
                                                    : r->GetMessage(message, field);
        const std::size_t before = out.size();
        collect(child, path, out);
        if (out.size() == before) {
            out.push_back(path + "={}");
        }
        return;
    }
    out.push_back(path + "=" + scalar_text(message, field, index));
}

void collect(const Message& message, const std::string& prefix, std::vector<std::string>& out) {
    const Reflection* r = message.GetReflection();
    std::vector<const FieldDescriptor*> fields;
    r->ListFields(message, &fields);
    for (const FieldDescriptor* field : fields) {
        const std::string path = prefix.empty() ? field->name() : prefix + "." + field->name();
        if (field->is_repeated()) {
            for (int i = 0; i < r->FieldSize(message, field); ++i) {
                collect_field(message, field, path + "[" + std::to_string(i) + "]", i, out);
            }
        } else {
            collect_field(message, field, path, 0, out);
        }
    }
    const google::protobuf::UnknownFieldSet& unknown = r->GetUnknownFields(message);
    for (int i = 0; i < unknown.field_count(); ++i) {
        out.push_back((prefix.empty() ? std::string() : prefix) +
                      "#unknown=" + std::to_string(unknown.field(i).number()));
    }
}

}  // namespace

std::vector<std::string> set_fields(const Message& message) {
    std::vector<std::string> out;
    collect(message, std::string(), out);
    return out;
}

}  // namespace qop::test

namespace qop::test {

std::string case_name(const std::vector<std::string>& fields, std::size_t index) {
    std::string name = std::to_string(index);
    if (fields.empty()) {
        return name;
    }
    name += "_";
    const std::string& first = fields.front();
    for (const char c : first.substr(0, first.find('='))) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name.push_back(plain ? c : '_');
    }
    return name;
}

}  // namespace qop::test
