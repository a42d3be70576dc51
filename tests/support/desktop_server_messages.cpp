#include "support/desktop_server_messages.hpp"

namespace qop::desktop::fakes {

ServerMessage attached_answer(const std::string& protocol_version) {
    ServerMessage message;
    auto* attached = message.mutable_attached();
    attached->set_desktop_session_id("desktop-session-1");
    attached->set_user_id("user-1");
    attached->set_account_id("account-1");
    attached->set_login_state("logged_in");
    attached->set_app_id(4242);
    attached->mutable_capabilities()->set_achievements(true);
    attached->mutable_capabilities()->set_user_context(true);
    attached->set_validated_executable_path("C:\\Games\\Game\\game.exe");
    attached->set_install_root("C:\\Games\\Game");
    attached->set_message("attached");
    attached->mutable_user_profile()->set_nickname("Player One");
    attached->mutable_user_profile()->set_display_tag("#0001");
    attached->mutable_user_profile()->set_avatar_available(true);
    attached->mutable_user_profile()->set_avatar_version("v1");
    attached->set_channel_state("open");
    attached->set_attach_state("attached");
    attached->set_attach_source("pipe");
    attached->set_anti_addiction_status_json("{}");
    attached->set_anti_addiction_event_json("{}");
    attached->set_desktop_protocol_version(protocol_version);
    return message;
}

ServerMessage command_result(const std::string& request_id, bool success, const std::string& code,
                             const std::string& message, const std::string& content_json,
                             const std::string& content_bytes) {
    ServerMessage server;
    auto* result = server.mutable_command_result();
    result->set_request_id(request_id);
    result->set_success(success);
    result->set_code(code);
    result->set_message(message);
    result->set_content_json(content_json);
    result->set_content_bytes(content_bytes);
    return server;
}

ServerMessage detached_event(const std::string& reason) {
    ServerMessage server;
    server.mutable_detached()->set_reason(reason);
    return server;
}

ServerMessage error_message(const std::string& code, const std::string& message,
                            const std::string& category, const std::string& channel_state,
                            const std::string& attach_state) {
    ServerMessage server;
    auto* error = server.mutable_error();
    error->set_code(code);
    error->set_message(message);
    error->set_category(category);
    error->set_channel_state(channel_state);
    error->set_attach_state(attach_state);
    return server;
}

ServerMessage anti_addiction_changed(const std::string& status_json,
                                     const std::string& event_json) {
    ServerMessage server;
    auto* changed = server.mutable_anti_addiction_changed();
    changed->set_anti_addiction_status_json(status_json);
    changed->set_anti_addiction_event_json(event_json);
    return server;
}

Bytes length_header(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length & 0xFF),
            static_cast<std::uint8_t>((length >> 8) & 0xFF),
            static_cast<std::uint8_t>((length >> 16) & 0xFF),
            static_cast<std::uint8_t>((length >> 24) & 0xFF)};
}

Bytes frame_payload(const std::string& payload) {
    Bytes frame = length_header(static_cast<std::uint32_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

Bytes frame_message(const ServerMessage& message) {
    return frame_payload(message.SerializeAsString());
}

}  // namespace qop::desktop::fakes
