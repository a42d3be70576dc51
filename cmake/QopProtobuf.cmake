# Native builds use Debian's protobuf; the Windows build uses the cross-built
# runtime from the cache (its prefix is on CMAKE_PREFIX_PATH) with the host's
# protoc, which must be the same release.
if(CMAKE_CROSSCOMPILING)
  find_package(protobuf CONFIG REQUIRED)
  find_program(QOP_PROTOC protoc NO_CMAKE_FIND_ROOT_PATH REQUIRED)
else()
  find_package(Protobuf REQUIRED)
  set(QOP_PROTOC ${Protobuf_PROTOC_EXECUTABLE})
endif()
if(NOT TARGET protobuf::libprotobuf)
  message(FATAL_ERROR "protobuf::libprotobuf not found")
endif()
