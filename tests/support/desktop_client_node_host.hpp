#pragma once

// An engine host with the SDK library loaded through its real entry, and
// QOPDesktopClient nodes driven the way a game script drives them: created,
// called and watched by name. Nodes can be given a fake desktop platform.

#include <memory>
#include <string>
#include <vector>

#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/variant.hpp>
#include <godot_standin/engine_host.hpp>

#include "desktop/desktop_platform.hpp"

namespace qop::godot_adapter::testing {

// Every signal of the node, in the order the class declares them.
const std::vector<std::string>& desktop_client_signals();

class DesktopClientNodeHost {
public:
    explicit DesktopClientNodeHost(godot_standin::EngineVersion version = {});
    // Frees the nodes made here that are still alive before the engine goes.
    ~DesktopClientNodeHost();

    bool loaded() const { return loaded_; }
    godot_standin::EngineHost& engine() { return engine_; }

    // As a script's QOPDesktopClient.new(): the platform of the running OS.
    godot::Object* new_node();
    // A node whose session client uses `platform`; every signal is watched.
    godot::Object* new_node(std::unique_ptr<qop::desktop::DesktopPlatform> platform);
    void free_node(godot::Object* node);

    godot::Variant call(godot::Object* node, const std::string& method,
                        const std::vector<godot::Variant>& arguments = {});
    // Emissions of one signal so far, as argument lists.
    std::vector<std::vector<godot::Variant>> emitted(const std::string& signal) const;
    // Every emission so far as its signal name, in order.
    std::vector<std::string> emitted_names() const;

private:
    godot_standin::EngineHost engine_;
    bool loaded_ = false;
    std::vector<godot::Object*> made_with_platform_;
};

// The UTF-8 text of a String value ("" for any other kind).
std::string utf8_of(const godot::Variant& value);
// A String made from UTF-8 text.
godot::Variant text(const std::string& utf8);
// The keys of a Dictionary whose keys are Strings, in iteration order.
std::vector<std::string> keys_of(const godot::Dictionary& dictionary);
// dictionary[key] ("" / nil when absent).
std::string text_at(const godot::Dictionary& dictionary, const char* key);
godot::Variant value_at(const godot::Dictionary& dictionary, const char* key);

}  // namespace qop::godot_adapter::testing
