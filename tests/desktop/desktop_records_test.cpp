// Defaults of the desktop session records that callers rely on.

#include <gtest/gtest.h>

#include "desktop/desktop_session_codec.hpp"
#include "desktop/desktop_session_records.hpp"

namespace {

using namespace qop::desktop;

TEST(DesktopRecords, DefaultEventIsAnEmptyError) {
    const DesktopSessionEvent event;
    EXPECT_EQ(event.kind, DesktopSessionEventKind::Error);
    EXPECT_EQ(static_cast<std::uint32_t>(event.kind), 6u);
    EXPECT_EQ(event.state, ConnectionState::DISCONNECTED);
    EXPECT_EQ(event.error.code, "");
    EXPECT_FALSE(event.error.retryable);
    EXPECT_TRUE(event.session.capabilities.empty());
}

TEST(DesktopRecords, DefaultAttachOptions) {
    const DesktopAttachOptions options;
    EXPECT_EQ(options.environment, "prod");
    EXPECT_EQ(options.engine, "godot");
    EXPECT_TRUE(options.auto_launch);
    EXPECT_TRUE(options.auto_reconnect);
    EXPECT_EQ(options.attach_timeout_ms, 5000);
    EXPECT_EQ(options.command_timeout_ms, 30000);
    EXPECT_EQ(options.app_id, 0u);
    EXPECT_EQ(options.process_id, 0u);
}

TEST(DesktopRecords, NumbersSharedWithScripts) {
    EXPECT_EQ(static_cast<int>(ConnectionState::STOPPING), 5);
    EXPECT_EQ(static_cast<int>(ConnectionState::RETRY_WAIT), 4);
    EXPECT_EQ(static_cast<std::uint32_t>(DesktopSessionEventKind::Detached), 5u);
    EXPECT_EQ(static_cast<int>(DecodedServerMessageKind::AntiAddictionChanged), 4);
    EXPECT_EQ(DecodedServerMessage().kind, DecodedServerMessageKind::Error);
}

}  // namespace
