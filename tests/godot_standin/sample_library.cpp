#include "sample_library.hpp"

#include <cstring>

namespace sample {

void SampleNode::_bind_methods() {
    using godot::ClassDB;
    using godot::D_METHOD;
    using godot::MethodInfo;
    using godot::PropertyInfo;
    using godot::Variant;
    ClassDB::bind_method(D_METHOD("configure", "id", "name", "flag", "bytes"),
                         &SampleNode::configure, DEFVAL("anon"), DEFVAL(true),
                         DEFVAL(godot::PackedByteArray()));
    ClassDB::bind_method(D_METHOD("describe"), &SampleNode::describe);
    ClassDB::bind_method(D_METHOD("add", "a", "b"), &SampleNode::add, DEFVAL(10));
    ClassDB::bind_method(D_METHOD("half", "value"), &SampleNode::half);
    ClassDB::bind_method(D_METHOD("get_summary"), &SampleNode::get_summary);
    ClassDB::bind_method(D_METHOD("get_mood"), &SampleNode::get_mood);
    ClassDB::bind_method(D_METHOD("set_mood", "mood"), &SampleNode::set_mood);
    ClassDB::bind_method(D_METHOD("fire", "value", "text"), &SampleNode::fire);
    ClassDB::bind_method(D_METHOD("fire_undeclared"), &SampleNode::fire_undeclared);
    ClassDB::bind_method(D_METHOD("fire_wrong_count"), &SampleNode::fire_wrong_count);
    ClassDB::bind_method(D_METHOD("fire_wrong_type"), &SampleNode::fire_wrong_type);
    ADD_PROPERTY(PropertyInfo(Variant::DICTIONARY, "summary"), "", "get_summary");
    ADD_PROPERTY(PropertyInfo(Variant::INT, "mood"), "set_mood", "get_mood");
    ADD_SIGNAL(MethodInfo("changed", PropertyInfo(Variant::INT, "value"),
                          PropertyInfo(Variant::STRING, "text")));
    ADD_SIGNAL(MethodInfo("nested_done", PropertyInfo(Variant::INT, "value")));
    BIND_ENUM_CONSTANT(MOOD_CALM);
    BIND_ENUM_CONSTANT(MOOD_BUSY);
}

void SampleNode::configure(int64_t p_id, const godot::String& p_name, bool p_flag,
                           const godot::PackedByteArray& p_bytes) {
    id = p_id;
    name = p_name;
    flag = p_flag;
    bytes = p_bytes;
}

godot::String SampleNode::describe() const {
    return name + godot::String(flag ? ":on" : ":off");
}

godot::Dictionary SampleNode::get_summary() const {
    godot::Dictionary summary;
    summary["id"] = id;
    summary["name"] = name;
    return summary;
}

void SampleNode::fire(int64_t p_value, const godot::String& p_text) {
    emit_signal("changed", p_value, p_text);
    emit_signal("nested_done", p_value);
}

void SampleNode::_exit_tree() {
    ++exit_tree_calls;
    ++exit_tree_total();
}

int& exit_tree_total() {
    static int total = 0;
    return total;
}

void SamplePeer::_bind_methods() {
    godot::ClassDB::bind_method(godot::D_METHOD("connect_to", "peer"), &SamplePeer::connect_to);
}

godot::Error SamplePeer::connect_to(int64_t p_peer) {
    status = CONNECTION_CONNECTED;
    emit_signal("peer_connected", p_peer);
    return godot::OK;
}

godot::Error SamplePeer::_get_packet(const uint8_t** r_buffer, int32_t* r_buffer_size) {
    if (inbox.empty()) {
        return godot::ERR_UNAVAILABLE;
    }
    current = inbox.front();
    inbox.erase(inbox.begin());
    *r_buffer = current.data();
    *r_buffer_size = static_cast<int32_t>(current.size());
    return godot::OK;
}

godot::Error SamplePeer::_put_packet(const uint8_t* p_buffer, int32_t p_buffer_size) {
    sent.emplace_back(p_buffer, p_buffer + p_buffer_size);
    return godot::OK;
}

int32_t SamplePeer::_get_available_packet_count() const {
    return static_cast<int32_t>(inbox.size());
}

std::vector<godot::ModuleInitializationLevel>& initializer_calls() {
    static std::vector<godot::ModuleInitializationLevel> calls;
    return calls;
}

std::vector<godot::ModuleInitializationLevel>& terminator_calls() {
    static std::vector<godot::ModuleInitializationLevel> calls;
    return calls;
}

namespace {

void initialize_sample_module(godot::ModuleInitializationLevel p_level) {
    initializer_calls().push_back(p_level);
    if (p_level != godot::MODULE_INITIALIZATION_LEVEL_SCENE) {
        return;
    }
    godot::ClassDB::register_class<SampleNode>();
    godot::ClassDB::register_class<PlainNode>();
    godot::ClassDB::register_class<SamplePeer>();
}

void uninitialize_sample_module(godot::ModuleInitializationLevel p_level) {
    terminator_calls().push_back(p_level);
}

}  // namespace
}  // namespace sample

extern "C" GDExtensionBool sample_library_init(
    GDExtensionInterfaceGetProcAddress p_get_proc_address, GDExtensionClassLibraryPtr p_library,
    GDExtensionInitialization* r_initialization) {
    godot::GDExtensionBinding::InitObject init(p_get_proc_address, p_library, r_initialization);
    init.register_initializer(sample::initialize_sample_module);
    init.register_terminator(sample::uninitialize_sample_module);
    init.set_minimum_library_initialization_level(godot::MODULE_INITIALIZATION_LEVEL_SCENE);
    return init.init();
}

extern "C" GDExtensionBool sample_library_init_without_initializer(
    GDExtensionInterfaceGetProcAddress p_get_proc_address, GDExtensionClassLibraryPtr p_library,
    GDExtensionInitialization* r_initialization) {
    godot::GDExtensionBinding::InitObject init(p_get_proc_address, p_library, r_initialization);
    return init.init();
}
