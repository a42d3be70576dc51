#include <gtest/gtest.h>

#ifndef _WIN32

TEST(Win32HostBridgePipe, NeedsWindowsNamedPipes) {
    GTEST_SKIP() << "Windows named pipes only";
}

#else

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_bridge/host_bridge_pipe_open.hpp"
#include "host_bridge/hosted_session_pipe.hpp"
#include "host_bridge_test_pipe_server.hpp"
#include "support/host_bridge_wire.hpp"
#include "support/test_waits.hpp"

namespace qop::test {
namespace {

using namespace std::chrono_literals;
using network::create_default_pipe_connector;
using network::DataPlaneConnectionContext;
using network::HostedSessionEvent;
using network::HostedSessionPipe;
using network::PipeChannel;
using network::PipeConnector;
using network::PipeOpenLimits;
using network::PipeOpenResult;
using Clock = std::chrono::steady_clock;

constexpr auto kGenerous = 5s;

// The real connector, counting how often it found the pipe busy.
class CountingConnector final : public PipeConnector {
public:
    PipeOpenResult try_open(const std::string& path,
                            std::unique_ptr<PipeChannel>& channel) override {
        const PipeOpenResult result = inner_->try_open(path, channel);
        if (result == PipeOpenResult::Busy) {
            busy.fetch_add(1);
        }
        return result;
    }
    void wait_for_instance(const std::string& path, std::chrono::milliseconds limit) override {
        inner_->wait_for_instance(path, limit);
    }

    std::atomic<int> busy{0};

private:
    std::unique_ptr<PipeConnector> inner_ = create_default_pipe_connector();
};

std::unique_ptr<PipeChannel> open_pipe(PipeConnector& connector, const std::string& name,
                                       std::string& error,
                                       PipeOpenLimits limits = PipeOpenLimits{}) {
    static const std::atomic<bool> not_cancelled{false};
    return network::open_host_bridge_pipe(connector, name, *network::system_monotonic_clock(),
                                          limits, not_cancelled, error);
}

TEST(Win32HostBridgePipe, MissingPipeFailsAtOnce) {
    CountingConnector connector;
    std::string error;
    const auto started = Clock::now();
    EXPECT_EQ(open_pipe(connector, unique_pipe_name("missing"), error), nullptr);
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_LT(Clock::now() - started, 2s);
    EXPECT_EQ(connector.busy.load(), 0);
}

TEST(Win32HostBridgePipe, BareAndPrefixedNamesOpenTheSamePipe) {
    const std::string name = unique_pipe_name("prefix");
    for (const std::string& given : {name, "\\\\.\\pipe\\" + name}) {
        HostBridgeTestPipeServer server(name);
        ASSERT_TRUE(server.listening());
        CountingConnector connector;
        std::string error;
        auto channel = open_pipe(connector, given, error);
        ASSERT_NE(channel, nullptr) << given << ": " << error;
        EXPECT_TRUE(server.wait_connected(kGenerous));
    }
}

TEST(Win32HostBridgePipe, BusyPipeOpensOnceAnInstanceFrees) {
    const std::string name = unique_pipe_name("busy-freed");
    // Room for the fresh instance that replaces the blocked one.
    HostBridgeTestPipeServer server(name, /*max_instances=*/2);
    CountingConnector connector;
    std::string error;
    auto blocker = open_pipe(connector, name, error);
    ASSERT_NE(blocker, nullptr) << error;
    ASSERT_TRUE(server.wait_connected(kGenerous));

    auto opening = std::async(std::launch::async, [&] {
        std::string open_error;
        return open_pipe(connector, name, open_error);
    });
    ASSERT_TRUE(wait_until([&] { return connector.busy.load() > 0; }));
    blocker.reset();
    server.close(/*relisten=*/true);

    ASSERT_EQ(opening.wait_for(kGenerous), std::future_status::ready);
    const std::unique_ptr<PipeChannel> opened = opening.get();
    EXPECT_NE(opened, nullptr);
    EXPECT_TRUE(server.wait_connected(kGenerous));
}

TEST(Win32HostBridgePipe, PipeBusyThroughoutGivesUpAtItsBound) {
    const std::string name = unique_pipe_name("busy-always");
    HostBridgeTestPipeServer server(name);
    CountingConnector connector;
    std::string error;
    auto blocker = open_pipe(connector, name, error);
    ASSERT_NE(blocker, nullptr) << error;

    const auto started = Clock::now();
    // A bound of 20 rounds of 50 ms leaves room for a second busy round even
    // on a loaded machine.
    EXPECT_EQ(open_pipe(connector, name, error, PipeOpenLimits{1000ms, 50ms}), nullptr);
    const auto took = Clock::now() - started;
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_GE(took, 1000ms);
    EXPECT_LT(took, 5s);
    EXPECT_GE(connector.busy.load(), 2);
}

// A name that walks out of the pipe namespace reaches a regular file.
class RegularFileBehindPipeName : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH];
        wchar_t file[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
        ASSERT_NE(GetTempFileNameW(folder, L"qop", 0, file), 0u);
        path_ = file;
        char utf8[MAX_PATH * 4];
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, file, -1, utf8, sizeof utf8, nullptr, nullptr);
        ASSERT_GT(length, 0);
        name = std::string("\\\\.\\pipe\\..\\") + utf8;

        // The premise: the system really opens the file under that name.
        HANDLE probe = CreateFileW(widen(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(probe, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(GetFileType(probe), static_cast<DWORD>(FILE_TYPE_DISK));
        CloseHandle(probe);
    }

    void TearDown() override { DeleteFileW(path_.c_str()); }

    LONGLONG file_size() const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
            return -1;
        }
        return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    std::string name;

private:
    std::wstring path_;
};

TEST_F(RegularFileBehindPipeName, IsRefusedAsABootstrapPipe) {
    HostedSessionPipe pipe;
    DataPlaneConnectionContext context;
    std::string error;
    EXPECT_FALSE(pipe.connect({"ticket", name, "bootstrap-secret"}, context, error));
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_EQ(file_size(), 0);
}

TEST_F(RegularFileBehindPipeName, IsRefusedAsARoomSessionPipe) {
    const std::string boot_name = unique_pipe_name("file-boot");
    HostBridgeTestPipeServer boot(boot_name);
    HostedSessionPipe pipe;
    DataPlaneConnectionContext context;
    std::string error;
    auto connecting = std::async(std::launch::async, [&] {
        return pipe.connect({"ticket", boot_name, "bootstrap-secret"}, context, error);
    });
    std::string request;
    ASSERT_TRUE(boot.wait_connected(kGenerous));
    ASSERT_TRUE(boot.read_frame(request, kGenerous));
    ASSERT_TRUE(
        boot.write_all(wire::framed(wire::redeemed("r", "p", name, "room-secret")), kGenerous));
    ASSERT_EQ(connecting.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(connecting.get());
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_EQ(file_size(), 0);
}

// Plays the host bridge on two real pipes while the client connects.
class Win32HostBridgeConversation : public ::testing::Test {
protected:
    Win32HostBridgeConversation()
        : boot_name(unique_pipe_name("boot")),
          room_name(unique_pipe_name("room")),
          boot(boot_name),
          room(room_name) {}

    void start_connect() {
        connecting = std::async(std::launch::async, [this] {
            return pipe.connect({"ticket-1", boot_name, "boot-secret"}, context, error);
        });
    }

    void serve_bootstrap() {
        std::string request;
        ASSERT_TRUE(boot.wait_connected(kGenerous));
        ASSERT_TRUE(boot.read_frame(request, kGenerous));
        EXPECT_EQ(request, wire::bytes({0x0A, 0x17, 0x0A, 0x08}) + "ticket-1" +
                               wire::bytes({0x12, 0x0B}) + "boot-secret");
        ASSERT_TRUE(boot.write_all(
            wire::framed(wire::redeemed("r-1", "p-1", room_name, "room-secret")), kGenerous));
    }

    void serve_attach() {
        std::string attach;
        ASSERT_TRUE(room.wait_connected(kGenerous));
        ASSERT_TRUE(room.read_frame(attach, kGenerous));
        ASSERT_TRUE(room.write_all(
            wire::framed(wire::snapshot("p-1", {{"p-1", "Me"}})) + wire::framed(wire::attached()),
            kGenerous));
    }

    void serve_data_plane() {
        std::string command;
        ASSERT_TRUE(room.read_frame(command, kGenerous));
        EXPECT_EQ(command, wire::bytes({0x12, 0x14, 0x0A, 0x10}) + "godot-data-plane" +
                               wire::bytes({0x10, 0x07}));
        const std::string json = wire::descriptor_json();
        ASSERT_TRUE(room.write_all(
            wire::framed(wire::data_plane("godot-data-plane", true, "", &json)), kGenerous));
    }

    bool finished_connect() {
        return connecting.wait_for(kGenerous) == std::future_status::ready && connecting.get();
    }

    // Polls until an event or a failure arrives, within the generous limit.
    bool poll_until_news(std::vector<HostedSessionEvent>& events, std::string& poll_error) {
        const auto deadline = Clock::now() + kGenerous;
        while (Clock::now() < deadline) {
            if (!pipe.poll(events, poll_error)) {
                return false;
            }
            if (!events.empty()) {
                return true;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    std::string boot_name;
    std::string room_name;
    HostBridgeTestPipeServer boot;
    HostBridgeTestPipeServer room;
    HostedSessionPipe pipe;
    DataPlaneConnectionContext context;
    std::string error;
    std::future<bool> connecting;
};

TEST_F(Win32HostBridgeConversation, ConnectsAndReadsFramesThatArriveInParts) {
    start_connect();
    serve_bootstrap();
    serve_attach();
    serve_data_plane();
    ASSERT_TRUE(finished_connect()) << error;
    EXPECT_EQ(context.room_id, "r-1");
    EXPECT_EQ(context.host_id, "p-1");
    EXPECT_EQ(context.tcp_port, 9000);

    const std::string frame = wire::framed(wire::room_event(1, "p-2", "Two"));
    ASSERT_TRUE(room.write_all(frame.substr(0, 2), kGenerous));
    std::vector<HostedSessionEvent> events;
    std::string poll_error;
    EXPECT_TRUE(pipe.poll(events, poll_error));
    ASSERT_TRUE(room.write_all(frame.substr(2, 6), kGenerous));
    EXPECT_TRUE(pipe.poll(events, poll_error));
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(room.write_all(frame.substr(8), kGenerous));
    ASSERT_TRUE(poll_until_news(events, poll_error)) << poll_error;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].player_id, "p-2");

    // The server goes away in the middle of the next frame.
    events.clear();
    ASSERT_TRUE(room.write_all(frame.substr(0, 7), kGenerous));
    room.close();
    EXPECT_FALSE(poll_until_news(events, poll_error));
    EXPECT_EQ(poll_error, "Hosted session pipe closed while reading");
    EXPECT_TRUE(events.empty());
}

TEST_F(Win32HostBridgeConversation, CancelEndsTheAttachWait) {
    start_connect();
    serve_bootstrap();
    std::string attach;
    ASSERT_TRUE(room.wait_connected(kGenerous));
    ASSERT_TRUE(room.read_frame(attach, kGenerous));
    const auto started = Clock::now();
    pipe.cancel();
    ASSERT_EQ(connecting.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(connecting.get());
    EXPECT_EQ(error, "Hosted session connect was cancelled");
    EXPECT_LT(Clock::now() - started, 2s);
}

TEST(Win32HostBridgePipe, CancelEndsAWriteTheServerNeverReads) {
    const std::string name = unique_pipe_name("stuck-write");
    HostBridgeTestPipeServer server(name, 1, 1024);
    CountingConnector connector;
    std::string error;
    std::unique_ptr<PipeChannel> channel = open_pipe(connector, name, error);
    ASSERT_NE(channel, nullptr) << error;
    ASSERT_TRUE(server.wait_connected(kGenerous));

    std::atomic<std::size_t> total{0};
    auto writing = std::async(std::launch::async, [&] {
        const std::string chunk(64 * 1024, 'x');
        std::size_t written = 0;
        // Without a reader the pipe fills and a write blocks.
        while (channel->write(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(),
                              written) &&
               written > 0) {
            total.fetch_add(written);
        }
    });
    // Give the writer time to fill the pipe and block; the cancel must end it
    // either way.
    (void)writing.wait_for(100ms);
    channel->cancel();
    ASSERT_EQ(writing.wait_for(kGenerous), std::future_status::ready);
    std::size_t written = 0;
    const std::uint8_t byte = 0;
    EXPECT_FALSE(channel->write(&byte, 1, written));
}

}  // namespace
}  // namespace qop::test

#endif  // _WIN32
