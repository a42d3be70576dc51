#include <utility>

#include "desktop/desktop_session_codec.hpp"
#include "desktop_session.pb.h"

namespace qop::desktop {
namespace {

namespace proto = marzel::desktop::sdk::session;

// One entry per bool field of the capability set, found through the message's
// descriptor so that a capability added to the schema needs no code here.
CapabilityMap read_capabilities(const proto::DesktopSessionCapabilitySet& set) {
    CapabilityMap capabilities;
    const google::protobuf::Descriptor* descriptor = set.GetDescriptor();
    const google::protobuf::Reflection* reflection = set.GetReflection();
    for (int i = 0; i < descriptor->field_count(); ++i) {
        const google::protobuf::FieldDescriptor* field = descriptor->field(i);
        if (field->type() != google::protobuf::FieldDescriptor::TYPE_BOOL || field->is_repeated()) {
            continue;
        }
        capabilities[static_cast<std::uint32_t>(field->number())] = reflection->GetBool(set, field);
    }
    return capabilities;
}

SdkError to_sdk_error(const proto::DesktopSessionError& body) {
    SdkError error;
    error.code = body.code();
    error.message = body.message();
    error.category = body.category();
    error.channel_state = body.channel_state();
    error.attach_state = body.attach_state();
    error.retryable = !is_terminal_error(error);
    return error;
}

}  // namespace

AttachedSession to_attached_session(const proto::DesktopSessionAttachedResponse& response) {
    AttachedSession session;
    session.desktop_session_id = response.desktop_session_id();
    session.user_id = response.user_id();
    session.account_id = response.account_id();
    session.login_state = response.login_state();
    session.app_id = response.app_id();
    // An absent set reads as the default instance: every capability false.
    session.capabilities = read_capabilities(response.capabilities());
    session.validated_executable_path = response.validated_executable_path();
    session.install_root = response.install_root();
    session.message = response.message();
    const proto::DesktopSessionUserProfile& profile = response.user_profile();
    session.nickname = profile.nickname();
    session.display_tag = profile.display_tag();
    session.avatar_available = profile.avatar_available();
    session.avatar_version = profile.avatar_version();
    session.channel_state = response.channel_state();
    session.attach_state = response.attach_state();
    session.attach_source = response.attach_source();
    session.anti_addiction_status_json = response.anti_addiction_status_json();
    session.anti_addiction_event_json = response.anti_addiction_event_json();
    session.desktop_protocol_version = response.desktop_protocol_version();
    return session;
}

CommandResult to_command_result(const proto::DesktopSessionCommandResponse& response) {
    CommandResult result;
    result.request_id = response.request_id();
    result.success = response.success();
    result.code = response.code();
    result.message = response.message();
    result.content_json = response.content_json();
    const std::string& bytes = response.content_bytes();
    result.content_bytes.assign(bytes.begin(), bytes.end());
    return result;
}

bool decode_server_message(const std::vector<std::uint8_t>& payload, DecodedServerMessage& out,
                           SdkError& error) {
    // Bounds first: an empty or oversized payload never reaches the parser.
    if (payload.empty() || payload.size() > kMaxDesktopFramePayload) {
        error = make_invalid_payload_error("Desktop session payload length is invalid");
        return false;
    }
    proto::DesktopSessionServerMessage message;
    if (!message.ParseFromArray(payload.data(), static_cast<int>(payload.size()))) {
        error = make_invalid_payload_error("Could not parse desktop session protobuf payload");
        return false;
    }
    switch (message.body_case()) {
        case proto::DesktopSessionServerMessage::kAttached:
            out.kind = DecodedServerMessageKind::Attached;
            out.attached = to_attached_session(message.attached());
            return true;
        case proto::DesktopSessionServerMessage::kCommandResult:
            out.kind = DecodedServerMessageKind::CommandResult;
            out.command_result = to_command_result(message.command_result());
            return true;
        case proto::DesktopSessionServerMessage::kDetached:
            out.kind = DecodedServerMessageKind::Detached;
            out.detach_reason = message.detached().reason();
            return true;
        case proto::DesktopSessionServerMessage::kError:
            out.kind = DecodedServerMessageKind::Error;
            out.error = to_sdk_error(message.error());
            return true;
        case proto::DesktopSessionServerMessage::kAntiAddictionChanged:
            out.kind = DecodedServerMessageKind::AntiAddictionChanged;
            out.anti_addiction_status_json =
                message.anti_addiction_changed().anti_addiction_status_json();
            out.anti_addiction_event_json =
                message.anti_addiction_changed().anti_addiction_event_json();
            return true;
        case proto::DesktopSessionServerMessage::BODY_NOT_SET:
            break;
    }
    error = make_invalid_payload_error("Unsupported desktop session server message");
    return false;
}

}  // namespace qop::desktop
