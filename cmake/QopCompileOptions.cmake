# Warnings apply to our own sources only; generated protobuf code and
# third-party code are built without them.
add_library(qop_warnings INTERFACE)
target_compile_options(qop_warnings INTERFACE -Wall -Wextra)
if(QOP_WERROR)
  target_compile_options(qop_warnings INTERFACE -Werror)
endif()

# Sanitizers apply to everything we compile (GoogleTest included) so that
# ThreadSanitizer sees every access in our process.
if(NOT QOP_SANITIZE STREQUAL "")
  add_compile_options(-fsanitize=${QOP_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${QOP_SANITIZE})
  if(QOP_SANITIZE MATCHES "thread")
    # Debian's libprotobuf is built without ThreadSanitizer, and protobuf's
    # headers change the layout of map fields when they see
    # __SANITIZE_THREAD__. Our code must see the layout the library was built
    # with, or every google.protobuf.Struct crashes.
    add_compile_options(-U__SANITIZE_THREAD__)
  endif()
  if(QOP_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

if(WIN32)
  # Link statically so the executables run under Wine without runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
endif()

# Adds every source matching the globs to TARGET; CONFIGURE_DEPENDS lets a new
# file join the build without touching CMake.
function(qop_glob_sources out)
  file(GLOB _files CONFIGURE_DEPENDS ${ARGN})
  set(${out} ${_files} PARENT_SCOPE)
endfunction()
