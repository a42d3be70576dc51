#pragma once

#ifdef _WIN32

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "desktop/platform/windows/windows_named_pipe_transport.hpp"
#include "support/test_pipe_server.hpp"

namespace qop::desktop::testing {

// A test server and a transport connected to it, each on its own pipe name.
class NamedPipeConnection : public ::testing::Test {
protected:
    void SetUp() override { connect(); }

    // Replaces the server and the transport with a fresh connected pair.
    void connect(std::int64_t operation_timeout_ms = kPipeOperationTimeoutMs) {
        server = std::make_unique<qop::test::TestPipeServer>(
            qop::test::TestPipeServer::unique_name("conn"));
        ASSERT_TRUE(server->listen());
        transport = make_named_pipe_transport(operation_timeout_ms);
        SdkError error;
        ASSERT_TRUE(transport->connect(server->name(), 5000, error)) << error.message;
        ASSERT_TRUE(server->accept());
    }

    void TearDown() override {
        transport.reset();
        server.reset();
    }

    std::unique_ptr<qop::test::TestPipeServer> server;
    std::unique_ptr<DesktopTransport> transport;
};

}  // namespace qop::desktop::testing

#endif
