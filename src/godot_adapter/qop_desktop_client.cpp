#include "godot_adapter/qop_desktop_client.hpp"

#include <utility>

#include "desktop/desktop_platform.hpp"
#include "desktop/desktop_session_client.hpp"
#include "godot_adapter/desktop_session_dictionaries.hpp"

namespace qop::godot_adapter {

QOPDesktopClient::QOPDesktopClient() : QOPDesktopClient(qop::desktop::create_default_platform()) {}

QOPDesktopClient::QOPDesktopClient(std::unique_ptr<qop::desktop::DesktopPlatform> platform)
    : session_client_(std::make_unique<qop::desktop::DesktopSessionClient>(std::move(platform))) {}

// The session client disconnects (joins its worker) as it is destroyed.
QOPDesktopClient::~QOPDesktopClient() = default;

void QOPDesktopClient::_exit_tree() {
    disconnect_desktop();
}

bool QOPDesktopClient::get_is_attached() const {
    return session_client_->is_attached();
}

int64_t QOPDesktopClient::get_connection_state() const {
    return static_cast<int64_t>(session_client_->connection_state());
}

godot::Dictionary QOPDesktopClient::get_current_session() const {
    return session_to_dictionary(session_client_->attached_session());
}

godot::Dictionary QOPDesktopClient::get_capabilities() const {
    return capabilities_to_dictionary(session_client_->attached_session().capabilities);
}

bool QOPDesktopClient::supports_capability(int64_t field_number) const {
    // Only the low 32 bits count, read as a signed number: anything below 1
    // needs no capability.
    return session_client_->has_capability(
        static_cast<std::int32_t>(static_cast<std::uint32_t>(field_number)));
}

}  // namespace qop::godot_adapter
