#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <functional>
#include <thread>

#include "named_pipe_connection.hpp"
#include "pipe_test_helpers.hpp"

namespace qop::desktop {
namespace {

using namespace std::chrono_literals;
using testing::Clock;
using testing::elapsed_ms;
using testing::receive_until_not_idle;
using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + 7) & 0xFF);
    }
    return bytes;
}

Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

struct SizeCase {
    std::size_t size;
    Bytes header;  // the length as the wire carries it
};

const SizeCase kSizes[] = {
    {1, {0x01, 0x00, 0x00, 0x00}},
    {1 << 20, {0x00, 0x00, 0x10, 0x00}},  // 1 MiB: far more than the pipe buffer
};

using NamedPipeFramesTest = testing::NamedPipeConnection;

TEST(NamedPipeTransportStateTest, NeverConnectedTransportIsClosedAndCannotSend) {
    auto transport = make_named_pipe_transport();
    Bytes out;
    SdkError error;
    error.code = "UNTOUCHED";
    EXPECT_EQ(transport->receive_frame(out, 1000, error), ReceiveResult::Closed);
    EXPECT_EQ(error.code, "UNTOUCHED");
    EXPECT_FALSE(transport->send_frame({1}, error));
    EXPECT_EQ(error.code, "DESKTOP_SESSION_BRIDGE_ERROR");
    EXPECT_EQ(error.message,
              testing::with_system_text("Desktop session pipe is not connected", 233));
    EXPECT_EQ(error.category, "channel");
    EXPECT_TRUE(error.retryable);
}

TEST_F(NamedPipeFramesTest, ClientFramesArriveWithALittleEndianLength) {
    for (const SizeCase& c : kSizes) {
        const Bytes payload = pattern(c.size);
        Bytes header;
        Bytes received;
        std::thread reader([&] {
            if (server->read_exact(4, header)) {
                server->read_exact(c.size, received);
            }
        });
        SdkError error;
        EXPECT_TRUE(transport->send_frame(payload, error)) << error.message;
        reader.join();
        EXPECT_EQ(header, c.header) << c.size;
        EXPECT_TRUE(received == payload) << c.size;
    }
}

TEST_F(NamedPipeFramesTest, ServerFramesAreReadWhole) {
    for (const SizeCase& c : kSizes) {
        const Bytes payload = pattern(c.size);
        std::thread writer([&] { server->write_bytes(concat(c.header, payload)); });
        Bytes out;
        SdkError error;
        EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Frame)
            << error.message;
        writer.join();
        EXPECT_TRUE(out == payload) << c.size;
    }
}

TEST_F(NamedPipeFramesTest, EmptyPayloadIsSentAsAZeroLength) {
    Bytes header;
    std::thread reader([&] { server->read_exact(4, header); });
    SdkError error;
    EXPECT_TRUE(transport->send_frame({}, error));
    reader.join();
    EXPECT_EQ(header, (Bytes{0, 0, 0, 0}));
}

TEST_F(NamedPipeFramesTest, FramesWrittenTogetherAndTrickledComeApartInOrder) {
    const Bytes both = {2, 0, 0, 0, 0xA1, 0xA2, 1, 0, 0, 0, 0xB1, 3, 0, 0, 0, 0xC1, 0xC2, 0xC3};
    std::thread writer([&] {
        server->write_bytes(Bytes(both.begin(), both.begin() + 11));
        for (std::size_t i = 11; i < both.size(); ++i) {
            std::this_thread::sleep_for(5ms);
            server->write_bytes({both[i]});
        }
    });
    const Bytes expected[] = {{0xA1, 0xA2}, {0xB1}, {0xC1, 0xC2, 0xC3}};
    for (const Bytes& frame : expected) {
        Bytes out;
        SdkError error;
        EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Frame);
        EXPECT_EQ(out, frame);
    }
    writer.join();
}

TEST_F(NamedPipeFramesTest, NothingWaitingIsIdleWithoutTouchingTheError) {
    Bytes out = {9};
    SdkError error;
    error.code = "UNTOUCHED";
    EXPECT_EQ(transport->receive_frame(out, 30, error), ReceiveResult::Idle);
    EXPECT_EQ(transport->receive_frame(out, -1, error), ReceiveResult::Idle);
    EXPECT_EQ(error.code, "UNTOUCHED");
    EXPECT_EQ(out, Bytes{9});
}

TEST_F(NamedPipeFramesTest, LengthsOutOfRangeAreRefusedBeforeAnyAllocation) {
    const Bytes headers[] = {
        {0x00, 0x00, 0x00, 0x00},  // 0
        {0x01, 0x00, 0x00, 0x01},  // 16,777,217
        {0xFF, 0xFF, 0xFF, 0xFF},  // 4,294,967,295
        {0x00, 0x00, 0x00, 0x80},  // 2,147,483,648
    };
    for (const Bytes& header : headers) {
        connect();
        ASSERT_TRUE(server->write_bytes(concat(header, {1, 2, 3})));
        Bytes out = {7};
        SdkError error;
        EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Error);
        EXPECT_EQ(error.code, "INVALID_PROTOBUF_PAYLOAD");
        EXPECT_EQ(error.message, "Desktop session frame length is invalid");
        EXPECT_EQ(error.category, "validation");
        EXPECT_FALSE(error.retryable);
        EXPECT_EQ(out, Bytes{7});
        EXPECT_EQ(out.capacity(), 1u);
    }
}

TEST_F(NamedPipeFramesTest, StalledFrameEndsWithTheReadTimeOut) {
    const Bytes stalls[] = {
        {0x0A, 0x00, 0x00, 0x00, 1, 2, 3},  // inside the payload
        {0x0A, 0x00},                       // inside the header
    };
    for (const Bytes& bytes : stalls) {
        connect(300);
        ASSERT_TRUE(server->write_bytes(bytes));
        Bytes out;
        SdkError error;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Error);
        EXPECT_GE(elapsed_ms(start), 250);
        EXPECT_EQ(error.code, "DESKTOP_SESSION_BRIDGE_ERROR");
        EXPECT_EQ(error.message,
                  testing::with_system_text("Timed out reading desktop session pipe", 1460));
        EXPECT_EQ(error.category, "channel");
        EXPECT_TRUE(error.retryable);
    }
}

TEST_F(NamedPipeFramesTest, StalledFrameIsPartialAtEachPollAndKeptUntilItEnds) {
    struct Case {
        const char* name;
        std::function<void(qop::test::TestPipeServer&, DesktopTransport&)> end_stall;
        ReceiveResult result;
        Bytes payload;
    };
    const Case cases[] = {
        {"rest arrives",
         [](qop::test::TestPipeServer& s, DesktopTransport&) {
             s.write_bytes({3, 4, 5});
         },
         ReceiveResult::Frame,
         {1, 2, 3, 4, 5}},
        {"server closes",
         [](qop::test::TestPipeServer& s, DesktopTransport&) { s.close(); },
         ReceiveResult::Closed,
         {9}},
        {"cancel",
         [](qop::test::TestPipeServer&, DesktopTransport& t) { t.cancel(); },
         ReceiveResult::Closed,
         {9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        connect();
        // The header, the length inside it cut in two, and part of the payload.
        ASSERT_TRUE(server->write_bytes({5, 0}));
        ASSERT_TRUE(server->write_bytes({0, 0, 1, 2}));
        Bytes out = {9};
        SdkError error;
        error.code = "UNTOUCHED";
        // The polls end inside the frame, far before the read time-out; a
        // wake ends one too.
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(transport->receive_frame(out, 20, error), ReceiveResult::Partial);
        EXPECT_EQ(transport->receive_frame(out, 20, error), ReceiveResult::Partial);
        transport->wake();
        EXPECT_EQ(transport->receive_frame(out, 30000, error), ReceiveResult::Partial);
        EXPECT_LT(elapsed_ms(start), 3000);
        EXPECT_EQ(out, Bytes{9});

        c.end_stall(*server, *transport);
        EXPECT_EQ(receive_until_not_idle(*transport, out, error), c.result);
        EXPECT_EQ(out, c.payload);
        EXPECT_EQ(error.code, "UNTOUCHED");
    }
}

TEST_F(NamedPipeFramesTest, ServerThatWritesOneFrameAndClosesGivesFrameThenClosed) {
    ASSERT_TRUE(server->write_bytes({3, 0, 0, 0, 0x10, 0x20, 0x30}));
    server->close();
    Bytes out;
    SdkError error;
    error.code = "UNTOUCHED";
    EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Frame);
    EXPECT_EQ(out, (Bytes{0x10, 0x20, 0x30}));
    EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Closed);
    EXPECT_EQ(error.code, "UNTOUCHED");
}

TEST_F(NamedPipeFramesTest, ServerClosingInsideAFrameGivesClosed) {
    ASSERT_TRUE(server->write_bytes({10, 0, 0, 0, 1, 2}));
    server->close();
    Bytes out;
    SdkError error;
    EXPECT_EQ(receive_until_not_idle(*transport, out, error), ReceiveResult::Closed);
}

TEST_F(NamedPipeFramesTest, WritingAfterTheServerClosedIsAnError) {
    server->close();
    SdkError error;
    EXPECT_FALSE(transport->send_frame({1, 2, 3}, error));
    EXPECT_EQ(error.code, "DESKTOP_SESSION_BRIDGE_ERROR");
    EXPECT_EQ(error.message.rfind("Could not write desktop session pipe", 0), 0u) << error.message;
    EXPECT_TRUE(error.retryable);
}

TEST_F(NamedPipeFramesTest, ClosedTransportNeitherSendsNorReceives) {
    transport->close();
    SdkError error;
    EXPECT_FALSE(transport->send_frame({1}, error));
    EXPECT_EQ(error.message,
              testing::with_system_text("Desktop session pipe is not connected", 233));
    Bytes out;
    EXPECT_EQ(transport->receive_frame(out, 1000, error), ReceiveResult::Closed);
    // The server sees the client go away.
    Bytes ignored;
    EXPECT_FALSE(server->read_exact(1, ignored, 2000ms));
}

}  // namespace
}  // namespace qop::desktop

#else

TEST(NamedPipeFramesTest, NeedsWindowsNamedPipes) {
    GTEST_SKIP() << "named pipes exist only on Windows";
}

#endif
