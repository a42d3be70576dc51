# The real engine binding: the target `godot-cpp` of the folder in
# QOP_GODOT_CPP_DIR (a godot-cpp checkout, which generates its bindings from
# its API file, or a folder whose CMakeLists.txt builds that target from
# bindings generated earlier). With QOP_GODOT_CPP_EXPORT the same target comes
# from an earlier build of that folder, as exported by
# cmake/godot_cpp_export/ (the scripts keep one per toolchain in their cache),
# instead of being built again here.
set(QOP_GODOT_CPP_EXPORT "" CACHE FILEPATH
    "godot-cpp-targets.cmake of an earlier build of QOP_GODOT_CPP_DIR, used instead of building it")

# Makes the target `godot-cpp` visible in the calling folder.
macro(qop_add_godot_cpp)
  if(NOT QOP_GODOT_CPP_EXPORT STREQUAL "")
    # Include folders of imported targets are system folders.
    include(${QOP_GODOT_CPP_EXPORT})
  else()
    # A godot-cpp checkout reads these: the engine API the library is
    # written against, and its headers as system headers. The folder's own
    # CMakeLists.txt ignores them.
    set(GODOTCPP_API_VERSION 4.7 CACHE STRING "Godot API the binding is generated for")
    set(GODOTCPP_SYSTEM_HEADERS ON CACHE BOOL "Expose godot-cpp's headers as system headers")
    # SYSTEM: our warning flags never apply to godot-cpp's headers.
    add_subdirectory(${QOP_GODOT_CPP_DIR} ${CMAKE_BINARY_DIR}/godot-cpp EXCLUDE_FROM_ALL SYSTEM)
  endif()
  if(NOT TARGET godot-cpp)
    message(FATAL_ERROR "${QOP_GODOT_CPP_DIR} provides no target godot-cpp")
  endif()
endmacro()
