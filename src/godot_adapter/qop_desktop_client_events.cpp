#include "godot_adapter/qop_desktop_client.hpp"

#include <vector>

#include <godot_cpp/core/object.hpp>

#include "desktop/desktop_session_client.hpp"
#include "godot_adapter/desktop_session_dictionaries.hpp"
#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {
namespace {

using qop::desktop::DesktopSessionEvent;
using qop::desktop::DesktopSessionEventKind;

void emit_event(godot::Object& node, const DesktopSessionEvent& event) {
    switch (event.kind) {
        case DesktopSessionEventKind::StateChanged:
            node.emit_signal("connection_state_changed", static_cast<int64_t>(event.state),
                             to_godot_string(event.reason));
            return;
        case DesktopSessionEventKind::Attached:
            node.emit_signal("desktop_attached", session_to_dictionary(event.session));
            return;
        case DesktopSessionEventKind::CommandCompleted:
            node.emit_signal("command_completed", to_godot_string(event.result.request_id),
                             command_result_to_dictionary(event.result));
            return;
        case DesktopSessionEventKind::Notification:
            node.emit_signal("desktop_notification_received",
                             command_result_to_dictionary(event.result));
            return;
        case DesktopSessionEventKind::AntiAddictionChanged:
            node.emit_signal("anti_addiction_changed",
                             parse_json_dictionary(event.anti_addiction_status_json),
                             parse_json_dictionary(event.anti_addiction_event_json));
            return;
        case DesktopSessionEventKind::Detached:
            node.emit_signal("desktop_detached", to_godot_string(event.reason));
            return;
        case DesktopSessionEventKind::Error:
            node.emit_signal("sdk_error", sdk_error_to_dictionary(event.error));
            return;
    }
    // Any other kind emits nothing.
}

}  // namespace

void QOPDesktopClient::poll_events() {
    // The batch is local: a handler may poll again, disconnect, attach or
    // free this node while it is being emitted.
    const std::vector<DesktopSessionEvent> events = session_client_->drain_events();
    const uint64_t instance_id = get_instance_id();
    for (const DesktopSessionEvent& event : events) {
        // A handler may have freed the node; from then on only locals may be
        // touched, and the rest of the batch is dropped with it.
        godot::Object* const self = godot::ObjectDB::get_instance(instance_id);
        if (self == nullptr) {
            return;
        }
        emit_event(*self, event);
    }
}

}  // namespace qop::godot_adapter
