#pragma once

#include <type_traits>

// Objects of engine classes are created and freed through these.
#define memnew(m_class) (new m_class)

namespace godot {

template <typename T>
void memdelete(T* p_object) {
    delete p_object;
}

}  // namespace godot
