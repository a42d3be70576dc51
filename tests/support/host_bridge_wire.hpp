#pragma once

// What a host bridge sends, written the way a server would: protobuf messages
// built field by field and framed by hand with a little-endian length.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "dovral_host_bootstrap.pb.h"
#include "dovral_host_session.pb.h"

namespace qop::test::wire {

namespace bootstrap = marzel::desktop::hostbridge::bootstrap;
namespace session = marzel::desktop::hostbridge::session;

inline std::string length_prefix(std::uint32_t length) {
    std::string header(4, '\0');
    header[0] = static_cast<char>(length & 0xFF);
    header[1] = static_cast<char>((length >> 8) & 0xFF);
    header[2] = static_cast<char>((length >> 16) & 0xFF);
    header[3] = static_cast<char>((length >> 24) & 0xFF);
    return header;
}

inline std::string frame(const std::string& payload) {
    return length_prefix(static_cast<std::uint32_t>(payload.size())) + payload;
}

template <typename Message>
std::string framed(const Message& message) {
    return frame(message.SerializeAsString());
}

inline std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int value : values) {
        out.push_back(static_cast<char>(value));
    }
    return out;
}

inline bootstrap::BootstrapResponse redeemed(const std::string& room_id,
                                             const std::string& player_id,
                                             const std::string& session_endpoint,
                                             const std::string& session_secret) {
    bootstrap::BootstrapResponse response;
    auto* body = response.mutable_redeem_launch_ticket();
    body->set_room_id(room_id);
    body->set_room_code("ROOM-CODE");
    body->set_player_id(player_id);
    body->mutable_player()->set_id(player_id);
    body->mutable_player()->set_name("Local");
    body->set_token("unused-token");
    body->set_expires_at("2030-01-01T00:00:00Z");
    body->set_server_url("https://example.invalid");
    body->set_session_endpoint(session_endpoint);
    body->set_session_secret(session_secret);
    return response;
}

inline bootstrap::BootstrapResponse bootstrap_error(const std::string& code,
                                                    const std::string& message) {
    bootstrap::BootstrapResponse response;
    response.mutable_error()->set_code(code);
    response.mutable_error()->set_message(message);
    return response;
}

inline session::SessionServerMessage attached() {
    session::SessionServerMessage message;
    message.mutable_attached()->set_room_id("ignored-room");
    return message;
}

inline session::SessionServerMessage snapshot(
    const std::string& host_id,
    std::initializer_list<std::pair<std::string, std::string>> players) {
    session::SessionServerMessage message;
    auto* event = message.mutable_room_snapshot();
    event->set_connection_status("connected");
    auto* room = event->mutable_room();
    room->set_id("room-1");
    room->set_host_id(host_id);
    room->set_max_players(8);
    for (const auto& [id, name] : players) {
        auto* player = room->add_players();
        player->set_id(id);
        player->set_name(name);
        player->set_is_ready(false);
    }
    return message;
}

inline session::SessionServerMessage snapshot_without_room() {
    session::SessionServerMessage message;
    message.mutable_room_snapshot()->set_connection_status("connecting");
    return message;
}

inline session::SessionServerMessage data_plane(const std::string& request_id, bool success,
                                                const std::string& text,
                                                const std::string* descriptor_json) {
    session::SessionServerMessage message;
    auto* reply = message.mutable_data_plane();
    reply->set_request_id(request_id);
    reply->set_success(success);
    reply->set_message(text);
    if (descriptor_json != nullptr) {
        auto* descriptor = reply->mutable_descriptor();
        descriptor->set_host("kcp.example.invalid");
        descriptor->set_port(7777);
        descriptor->set_sdk_descriptor_json(*descriptor_json);
    }
    return message;
}

inline session::SessionServerMessage room_event(int type, const std::string& player_id,
                                                const std::string& player_name,
                                                const std::string& previous_host = "",
                                                const std::string& current_host = "") {
    session::SessionServerMessage message;
    auto* event = message.mutable_room_event();
    event->set_event_type(static_cast<session::SessionRoomEventType>(type));
    event->set_room_id("room-1");
    if (!player_id.empty() || !player_name.empty()) {
        event->mutable_player()->set_id(player_id);
        event->mutable_player()->set_name(player_name);
    }
    event->set_previous_host_id(previous_host);
    event->set_current_host_id(current_host);
    return message;
}

inline session::SessionServerMessage detached(const std::string& reason) {
    session::SessionServerMessage message;
    message.mutable_detached()->set_reason(reason);
    return message;
}

inline session::SessionServerMessage session_error(const std::string& code,
                                                   const std::string& text) {
    session::SessionServerMessage message;
    message.mutable_error()->set_code(code);
    message.mutable_error()->set_message(text);
    return message;
}

inline std::string descriptor_json() {
    return R"({"version":1,"token":"tok-123","expiresAtUnixSeconds":1900000000,)"
           R"("transports":{"tcp":{"host":"relay.example.invalid","port":9000,)"
           R"("frameMaxBytes":65536},"rawUdp":{"host":"udp.example.invalid","port":9001,)"
           R"("payloadMaxBytes":1200}}})";
}

}  // namespace qop::test::wire
