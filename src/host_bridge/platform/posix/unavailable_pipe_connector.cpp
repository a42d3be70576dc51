#ifndef _WIN32

#include "host_bridge/host_bridge_pipe_channel.hpp"

namespace qop::network {

namespace {

// Host-bridge pipes exist only on Windows; elsewhere every open fails, which
// the client reports as a pipe that could not be connected.
class UnavailablePipeConnector final : public PipeConnector {
public:
    PipeOpenResult try_open(const std::string&, std::unique_ptr<PipeChannel>& channel) override {
        channel.reset();
        return PipeOpenResult::Failed;
    }

    void wait_for_instance(const std::string&, std::chrono::milliseconds) override {}
};

}  // namespace

std::unique_ptr<PipeConnector> create_default_pipe_connector() {
    return std::make_unique<UnavailablePipeConnector>();
}

}  // namespace qop::network

#endif  // _WIN32
