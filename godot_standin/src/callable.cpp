#include <godot_cpp/variant/callable.hpp>

#include <godot_cpp/core/object.hpp>
#include <godot_standin/class_records.hpp>
#include <godot_standin/engine_host.hpp>

#include "callable_factory.hpp"
#include "engine_errors.hpp"
#include "script_calls.hpp"

namespace godot {

struct Callable::Target {
    uint64_t object_id = 0;
    StringName method;
    godot_standin::CallableFactory::Function function;
};

Callable::Callable(Object* p_object, const StringName& p_method) {
    auto target = std::make_shared<Target>();
    target->object_id = p_object != nullptr ? p_object->get_instance_id() : 0;
    target->method = p_method;
    target_ = std::move(target);
}

bool Callable::operator==(const Callable& p_other) const {
    if (target_ == p_other.target_) {
        return true;
    }
    if (!target_ || !p_other.target_ || target_->function || p_other.target_->function) {
        return false;
    }
    return target_->object_id == p_other.target_->object_id &&
           target_->method == p_other.target_->method;
}

bool Callable::is_valid() const {
    if (!target_) {
        return false;
    }
    if (target_->function) {
        return true;
    }
    Object* object = ObjectDB::get_instance(target_->object_id);
    return object != nullptr && godot_standin::find_method(object->get_class(), target_->method);
}

void Callable::call_with(const std::vector<Variant>& p_arguments) const {
    if (!target_) {
        return;
    }
    if (target_->function) {
        target_->function(p_arguments);
        return;
    }
    Object* object = ObjectDB::get_instance(target_->object_id);
    if (object == nullptr) {
        internal::record_engine_error(
            godot_standin::ErrorKind::Script,
            "Attempt to call " + internal::to_utf8(target_->method) + " on a freed object.",
            "Callable::call");
        return;
    }
    std::string error;
    internal::call_method(object, target_->method, p_arguments, error);
    if (!error.empty()) {
        internal::record_engine_error(godot_standin::ErrorKind::Script, error, "Callable::call");
    }
}

}  // namespace godot

namespace godot_standin {

godot::Callable CallableFactory::from_function(Function p_function) {
    auto target = std::make_shared<godot::Callable::Target>();
    target->function = std::move(p_function);
    return godot::Callable(std::shared_ptr<const godot::Callable::Target>(std::move(target)));
}

}  // namespace godot_standin
