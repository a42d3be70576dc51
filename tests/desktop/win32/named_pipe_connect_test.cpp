#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>

#include "desktop/platform/windows/windows_named_pipe_transport.hpp"
#include "pipe_test_helpers.hpp"
#include "support/test_pipe_server.hpp"

namespace qop::desktop {
namespace {

using qop::test::TestPipeServer;
using namespace std::chrono_literals;
using testing::Clock;
using testing::elapsed_ms;

void expect_session_required(const SdkError& error, const std::string& message) {
    EXPECT_EQ(error.code, "DESKTOP_SESSION_REQUIRED");
    EXPECT_EQ(error.message, message);
    EXPECT_EQ(error.category, "channel");
    EXPECT_TRUE(error.retryable);
}

TEST(NamedPipeConnectTest, AbsentServerTimesOutAtTheDeadlineWithoutBurningACore) {
    const std::string name = TestPipeServer::unique_name("absent");
    auto transport = make_named_pipe_transport();
    SdkError error;
    const std::int64_t cpu_before = testing::thread_cpu_ms();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(transport->connect(name, 1000, error));
    const std::int64_t waited = elapsed_ms(start);
    const std::int64_t cpu_used = testing::thread_cpu_ms() - cpu_before;

    expect_session_required(error, "Timed out connecting to the desktop session pipe");
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 5000);
    // Retrying without a pause costs this thread about 40% of a core under
    // Wine; pausing between rounds costs a few percent.
    EXPECT_LT(cpu_used, 150);
}

TEST(NamedPipeConnectTest, EndpointsThatAreNotPipeNamesFailAtOnce) {
    struct Case {
        const char* name;
        std::string endpoint;
    };
    const Case cases[] = {
        {"empty", ""},
        {"invalid lead byte", "\xFF\xFEpipe"},
        {"truncated sequence", "qop-\xC3"},
        {"bad continuation", "\xC3\x28"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"overlong slash", "\xC0\xAF"},
    };
    for (const Case& c : cases) {
        auto transport = make_named_pipe_transport();
        SdkError error;
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(transport->connect(c.endpoint, 5000, error)) << c.name;
        EXPECT_LT(elapsed_ms(start), 2000) << c.name;
        expect_session_required(error, "Desktop session pipe endpoint is empty");
    }
}

TEST(NamedPipeConnectTest, ZeroOrNegativeTimeOutNeverOpensTheServersPipe) {
    for (const std::int64_t timeout :
         {std::int64_t{0}, std::int64_t{-5}, std::numeric_limits<std::int64_t>::min()}) {
        TestPipeServer server(TestPipeServer::unique_name("zero"));
        ASSERT_TRUE(server.listen());
        auto transport = make_named_pipe_transport();
        SdkError error;
        EXPECT_FALSE(transport->connect(server.name(), timeout, error)) << timeout;
        expect_session_required(error, "Timed out connecting to the desktop session pipe");
        EXPECT_FALSE(server.accept(150ms)) << timeout;
    }
}

TEST(NamedPipeConnectTest, BareAndPrefixedNamesReachTheSamePipe) {
    for (const bool prefixed : {false, true}) {
        TestPipeServer server(TestPipeServer::unique_name("names"));
        ASSERT_TRUE(server.listen());
        auto transport = make_named_pipe_transport();
        SdkError error;
        const std::string endpoint = prefixed ? server.path() : server.name();
        ASSERT_TRUE(transport->connect(endpoint, 5000, error)) << endpoint << ": " << error.message;
        EXPECT_TRUE(server.accept());
        ASSERT_TRUE(server.write_bytes({1, 0, 0, 0, 0x2A}));
        std::vector<std::uint8_t> payload;
        EXPECT_EQ(testing::receive_until_not_idle(*transport, payload, error),
                  ReceiveResult::Frame);
        EXPECT_EQ(payload, std::vector<std::uint8_t>{0x2A});
    }
}

TEST(NamedPipeConnectTest, PrefixInAnotherLetterCaseIsNotTakenAsThePrefix) {
    TestPipeServer server(TestPipeServer::unique_name("case"));
    ASSERT_TRUE(server.listen());
    auto transport = make_named_pipe_transport();
    SdkError error;
    EXPECT_FALSE(transport->connect("\\\\.\\PIPE\\" + server.name(), 300, error));
    EXPECT_FALSE(server.accept(100ms));
}

TEST(NamedPipeConnectTest, NameWithANulNeverOpensThePipeOfItsFirstPart) {
    TestPipeServer server(TestPipeServer::unique_name("nul"));
    ASSERT_TRUE(server.listen());
    for (const std::string& endpoint :
         {server.name() + std::string(1, '\0'), server.name() + std::string(1, '\0') + "other",
          server.path() + std::string(1, '\0') + "other"}) {
        auto transport = make_named_pipe_transport();
        SdkError error;
        EXPECT_FALSE(transport->connect(endpoint, 300, error));
        expect_session_required(error, "Desktop session pipe endpoint is empty");
    }
    EXPECT_FALSE(server.accept(100ms));
}

TEST(NamedPipeConnectTest, BusyPipeFreedLaterIsConnectedBeforeTheDeadline) {
    TestPipeServer server(TestPipeServer::unique_name("busy"));
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(server.occupy());

    std::atomic<bool> releasing{false};
    std::atomic<bool> accepted{false};
    std::thread releaser([&] {
        std::this_thread::sleep_for(200ms);
        releasing = true;
        if (server.release_occupant()) {
            accepted = server.accept();
        }
    });
    auto transport = make_named_pipe_transport();
    SdkError error;
    const Clock::time_point start = Clock::now();
    const bool connected = transport->connect(server.name(), 5000, error);
    const bool freed_first = releasing.load();
    const std::int64_t waited = elapsed_ms(start);
    releaser.join();

    EXPECT_TRUE(connected) << error.message;
    EXPECT_TRUE(freed_first);
    EXPECT_TRUE(accepted);
    EXPECT_LT(waited, 5000);
}

TEST(NamedPipeConnectTest, NameThatReachesARegularFileIsRefusedAndTheFileKept) {
    wchar_t temp_folder[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp_folder), 0u);
    const std::wstring file = std::wstring(temp_folder) + L"qop-pipe-target-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64()) + L".txt";
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << "keep";
    }
    std::string endpoint = "\\\\.\\pipe\\..\\";
    for (wchar_t c : file) {
        endpoint.push_back(static_cast<char>(c));  // temp paths here are ASCII
    }

    auto transport = make_named_pipe_transport();
    SdkError error;
    // Such a name opens the file, but the file refuses to act as a pipe.
    EXPECT_FALSE(transport->connect(endpoint, 300, error));
    EXPECT_EQ(error.message.rfind("Could not configure desktop session pipe", 0), 0u)
        << error.message;
    std::vector<std::uint8_t> payload = {1, 2, 3};
    transport->send_frame(payload, error);
    transport.reset();

    std::ifstream in(file.c_str(), std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    in.close();
    EXPECT_EQ(content, "keep");
    DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace qop::desktop

#else

TEST(NamedPipeConnectTest, NeedsWindowsNamedPipes) {
    GTEST_SKIP() << "named pipes exist only on Windows";
}

#endif
