# Renames the getter of SessionDataPlaneResponse's `descriptor` field to
# `data_plane_descriptor()`. protobuf 3.21 generates `descriptor() const` for
# that field, which cannot coexist with the static `descriptor()` that every
# message class has. Only the getter collides, so only it is renamed; the
# other accessors (has_/mutable_/clear_descriptor) keep their generated names.
foreach(_file ${FILES})
  if(NOT _file MATCHES "\\.pb\\.h$")
    continue()
  endif()
  file(READ ${_file} _text)
  string(REPLACE "SessionDataPlaneDescriptor& descriptor() const"
                 "SessionDataPlaneDescriptor& data_plane_descriptor() const" _text "${_text}")
  string(REPLACE "SessionDataPlaneResponse::descriptor() const"
                 "SessionDataPlaneResponse::data_plane_descriptor() const" _text "${_text}")
  file(WRITE ${_file} "${_text}")
endforeach()
