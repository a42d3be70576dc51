#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host_bridge/hosted_session_pipe.hpp"
#include "support/host_bridge_wire.hpp"
#include "support/manual_monotonic_clock.hpp"
#include "support/scripted_host_bridge_pipe.hpp"

namespace qop::test {

// A host bridge made of two scripted pipes on a manual clock: the bootstrap
// pipe "\\.\pipe\qop-boot" and the room session pipe "\\.\pipe\qop-room".
class HostedSessionFixture : public ::testing::Test {
protected:
    static constexpr char kBootName[] = "qop-boot";
    static constexpr char kBootPath[] = "\\\\.\\pipe\\qop-boot";
    static constexpr char kRoomPath[] = "\\\\.\\pipe\\qop-room";

    void SetUp() override {
        network.add(kBootPath, boot);
        network.add(kRoomPath, room);
        pipe = std::make_unique<network::HostedSessionPipe>(network.connector(), clock);
    }

    static network::HostedBootstrapContext bootstrap_context() {
        return {"ticket-1", kBootName, "boot-secret"};
    }

    // The bootstrap pipe redeems the ticket into room "r-1" for player "p-1".
    void script_bootstrap() {
        boot->reply_after_frame(
            1, wire::framed(wire::redeemed("r-1", "p-1", kRoomPath, "room-secret")));
    }

    // The room answers the attach with a snapshot before `attached`.
    void script_attach() {
        room->reply_after_frame(1, wire::framed(wire::snapshot("p-9", {{"p-9", "Old host"}})) +
                                       wire::framed(wire::attached()));
    }

    // ... and the data-plane request with `reply`.
    void script_room(const wire::session::SessionServerMessage& reply) {
        script_attach();
        room->reply_after_frame(2, wire::framed(reply));
    }

    void script_success() {
        const std::string json = wire::descriptor_json();
        script_bootstrap();
        script_room(wire::data_plane("godot-data-plane", true, "", &json));
    }

    bool connect() { return pipe->connect(bootstrap_context(), context, error); }

    std::shared_ptr<ManualMonotonicClock> clock = std::make_shared<ManualMonotonicClock>();
    ScriptedPipeNetwork network{clock};
    std::shared_ptr<ScriptedPipeServer> boot = std::make_shared<ScriptedPipeServer>(clock);
    std::shared_ptr<ScriptedPipeServer> room = std::make_shared<ScriptedPipeServer>(clock);
    std::unique_ptr<network::HostedSessionPipe> pipe;
    network::DataPlaneConnectionContext context;
    std::string error;
};

}  // namespace qop::test
