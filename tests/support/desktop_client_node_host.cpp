#include "support/desktop_client_node_host.hpp"

#include <algorithm>
#include <utility>

#include <godot_cpp/core/memory.hpp>
#include <godot_cpp/variant/array.hpp>

#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/qop_desktop_client.hpp"
#include "godot_adapter/sdk_library_entry.hpp"

namespace qop::godot_adapter::testing {

const std::vector<std::string>& desktop_client_signals() {
    static const std::vector<std::string> signals = {
        "connection_state_changed",
        "desktop_attached",
        "command_completed",
        "desktop_notification_received",
        "anti_addiction_changed",
        "desktop_detached",
        "sdk_error",
    };
    return signals;
}

DesktopClientNodeHost::DesktopClientNodeHost(godot_standin::EngineVersion version)
    : engine_(version) {
    loaded_ = engine_.load(&qop_sdk_library_init);
}

DesktopClientNodeHost::~DesktopClientNodeHost() {
    for (godot::Object* node : made_with_platform_) {
        engine_.free(node);
    }
}

godot::Object* DesktopClientNodeHost::new_node() {
    godot::Object* node = engine_.instantiate("QOPDesktopClient");
    if (node != nullptr) {
        for (const std::string& signal : desktop_client_signals()) {
            engine_.watch(node, signal);
        }
    }
    return node;
}

godot::Object* DesktopClientNodeHost::new_node(
    std::unique_ptr<qop::desktop::DesktopPlatform> platform) {
    godot::Object* node = memnew(QOPDesktopClient(std::move(platform)));
    made_with_platform_.push_back(node);
    for (const std::string& signal : desktop_client_signals()) {
        engine_.watch(node, signal);
    }
    return node;
}

void DesktopClientNodeHost::free_node(godot::Object* node) {
    made_with_platform_.erase(
        std::remove(made_with_platform_.begin(), made_with_platform_.end(), node),
        made_with_platform_.end());
    engine_.free(node);
}

godot::Variant DesktopClientNodeHost::call(godot::Object* node, const std::string& method,
                                           const std::vector<godot::Variant>& arguments) {
    return engine_.call(node, method, arguments);
}

std::vector<std::vector<godot::Variant>> DesktopClientNodeHost::emitted(
    const std::string& signal) const {
    std::vector<std::vector<godot::Variant>> arguments;
    for (const godot_standin::SignalEmission& emission : engine_.emissions_of(signal)) {
        arguments.push_back(emission.arguments);
    }
    return arguments;
}

std::vector<std::string> DesktopClientNodeHost::emitted_names() const {
    std::vector<std::string> names;
    for (const godot_standin::SignalEmission& emission : engine_.emissions()) {
        names.push_back(emission.signal);
    }
    return names;
}

std::string utf8_of(const godot::Variant& value) {
    if (value.get_type() != godot::Variant::STRING) {
        return std::string();
    }
    return to_std_string(value);
}

godot::Variant text(const std::string& utf8) {
    return to_godot_string(utf8);
}

std::vector<std::string> keys_of(const godot::Dictionary& dictionary) {
    std::vector<std::string> keys;
    const godot::Array all = dictionary.keys();
    for (int64_t i = 0; i < all.size(); ++i) {
        keys.push_back(utf8_of(all[i]));
    }
    return keys;
}

std::string text_at(const godot::Dictionary& dictionary, const char* key) {
    return utf8_of(value_at(dictionary, key));
}

godot::Variant value_at(const godot::Dictionary& dictionary, const char* key) {
    return dictionary.get(key, godot::Variant());
}

}  // namespace qop::godot_adapter::testing
