#include <gdextension_interface.h>
#include <gtest/gtest.h>
#include <godot_standin/engine_host.hpp>

#include "godot_adapter/sdk_library_entry.hpp"
#include "relay/socket_compat.hpp"

namespace qop::godot_adapter::testing {
namespace {

#ifdef _WIN32
// Whether Winsock is up in this process: making a socket says so.
bool winsock_is_started() {
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET) {
        return WSAGetLastError() != WSANOTINITIALISED;
    }
    closesocket(probe);
    return true;
}
#endif

// The engine de-initialises the levels from the top down before it unloads
// the library; Winsock, started by the first relay socket, must be released
// then, at the scene level, and not while the editor level goes.
TEST(SdkLibraryUnload, TheSceneLevelStopsWinsockStartedSinceTheLoad) {
#ifndef _WIN32
    GTEST_SKIP() << "only Winsock is started and stopped";
#else
    godot_standin::EngineHost host;
    ASSERT_TRUE(host.load(&qop_sdk_library_init));
    ASSERT_TRUE(network::start_socket_library());
    ASSERT_TRUE(winsock_is_started());

    const GDExtensionInitialization& initialization = host.initialization();
    initialization.deinitialize(initialization.userdata, GDEXTENSION_INITIALIZATION_EDITOR);
    EXPECT_TRUE(winsock_is_started());
    host.unload();
    EXPECT_FALSE(winsock_is_started());

    // After an unload the first use starts it again, as for a library
    // loaded again into the same process.
    EXPECT_TRUE(network::start_socket_library());
    EXPECT_TRUE(winsock_is_started());
    network::stop_socket_library();
#endif
}

}  // namespace
}  // namespace qop::godot_adapter::testing
