#include "relay/tcp_handshake.hpp"

#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>

#include <cmath>

#include "relay/slot_metadata.hpp"
#include "shared/json_struct_fields.hpp"
#include "shared/untrusted_json.hpp"

namespace qop::network {
namespace {

using google::protobuf::Struct;
using google::protobuf::Value;

constexpr char kInvalidAck[] = "TCP transport returned an invalid acknowledgement";
constexpr char kRejected[] = "TCP transport authentication was rejected";
constexpr char kMissingSlots[] = "TCP transport acknowledgement is missing slot metadata";
constexpr char kInvalidEntry[] = "TCP slot roster entry is invalid";
constexpr char kInvalidSlots[] = "TCP slot metadata is invalid";

bool is_number(const Value* value) {
    return value != nullptr && value->kind_case() == Value::kNumberValue;
}

// The relay's numbers are doubles: the range is checked on the number itself
// so that 257 or 1e300 can never wrap into a valid 8-bit slot. Anything out
// of range becomes 0, which no slot check accepts.
std::uint8_t slot_from_number(double number) {
    if (!std::isfinite(number)) {
        return 0;
    }
    const double whole = std::trunc(number);
    if (whole < 1.0 || whole > 64.0) {
        return 0;
    }
    return static_cast<std::uint8_t>(whole);
}

bool read_roster_entry(const Value& element, SlotRosterEntry& entry) {
    if (element.kind_case() != Value::kStructValue) {
        return false;
    }
    const Value* id = find_struct_field(element.struct_value(), "playerId");
    const Value* slot = find_struct_field(element.struct_value(), "slot");
    if (id == nullptr || id->kind_case() != Value::kStringValue || !is_number(slot)) {
        return false;
    }
    const double number = slot->number_value();
    if (!(number >= 1.0 && number <= 64.0)) {
        return false;
    }
    entry.player_id = id->string_value();
    entry.slot = static_cast<std::uint8_t>(std::trunc(number));
    return true;
}

}  // namespace

bool encode_reliable_handshake(const std::string& token, std::string& text, std::string& error) {
    // The JSON printer would silently send an invalid token as "".
    if (!is_valid_utf8(token)) {
        error = "TCP transport handshake could not be encoded";
        return false;
    }
    Struct handshake;
    auto& fields = *handshake.mutable_fields();
    fields["type"].set_string_value("reliable_handshake");
    fields["version"].set_number_value(1);
    fields["token"].set_string_value(token);
    fields["supportedEnvelopeVersions"].mutable_list_value()->add_values()->set_number_value(1);

    google::protobuf::util::JsonPrintOptions options;
    options.add_whitespace = true;
    std::string printed;
    if (!google::protobuf::util::MessageToJsonString(handshake, &printed, options).ok()) {
        error = "TCP transport handshake could not be encoded";
        return false;
    }
    text = std::move(printed);
    return true;
}

bool parse_reliable_handshake_ack(std::string_view bytes, std::uint8_t& envelope_version,
                                  std::uint8_t& player_slot, std::uint8_t& host_slot,
                                  std::vector<SlotRosterEntry>& roster, std::string& error) {
    Struct ack;
    if (!parse_untrusted_json_object(bytes, ack)) {
        error = kInvalidAck;
        return false;
    }
    const Value* type = find_struct_field(ack, "type");
    if (type == nullptr || type->kind_case() != Value::kStringValue ||
        type->string_value() != "reliable_handshake_ack") {
        error = kRejected;
        return false;
    }

    envelope_version = 0;
    player_slot = 0;
    host_slot = 0;
    roster.clear();
    const Value* selected = find_struct_field(ack, "selectedEnvelopeVersion");
    if (!is_number(selected) || selected->number_value() != 1.0) {
        return true;
    }
    envelope_version = 1;

    const Value* player = find_struct_field(ack, "playerSlot");
    const Value* host = find_struct_field(ack, "hostSlot");
    const Value* slots = find_struct_field(ack, "playerSlots");
    if (!is_number(player) || !is_number(host) || slots == nullptr ||
        slots->kind_case() != Value::kListValue) {
        error = kMissingSlots;
        return false;
    }
    player_slot = slot_from_number(player->number_value());
    host_slot = slot_from_number(host->number_value());

    for (const Value& element : slots->list_value().values()) {
        SlotRosterEntry entry;
        if (!read_roster_entry(element, entry)) {
            error = kInvalidEntry;
            return false;
        }
        roster.push_back(std::move(entry));
    }
    if (!validate_slot_metadata(player_slot, host_slot, roster)) {
        error = kInvalidSlots;
        return false;
    }
    return true;
}

}  // namespace qop::network
