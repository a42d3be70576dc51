#pragma once

// The Dictionary forms in which the node hands desktop session records to
// scripts. Every call builds new Dictionaries; entries are inserted in the
// order scripts iterate them.

#include <string>

#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/variant.hpp>

#include "desktop/desktop_session_records.hpp"

namespace qop::godot_adapter {

godot::Dictionary command_result_to_dictionary(const qop::desktop::CommandResult& result);

godot::Dictionary sdk_error_to_dictionary(const qop::desktop::SdkError& error);

// The error of input refused before anything is sent: only code, message,
// category ("validation") and retryable (false), as no channel is involved.
godot::Dictionary invalid_input_to_dictionary(const char* message);

// One bool per known capability (an absent entry counts as false) and
// "enabled_field_numbers" listing every field number whose entry is true.
godot::Dictionary capabilities_to_dictionary(const qop::desktop::CapabilityMap& capabilities);

godot::Dictionary session_to_dictionary(const qop::desktop::AttachedSession& session);

// Empty text: nil. Text that parses to a non-null value: that value. Anything
// else (unparsable, or the literal null): the text itself as a String.
godot::Variant parse_json_variant(const std::string& text);

// Empty text: an empty Dictionary. A JSON object: that Dictionary. Anything
// else: {"raw_json": text}.
godot::Dictionary parse_json_dictionary(const std::string& text);

}  // namespace qop::godot_adapter
