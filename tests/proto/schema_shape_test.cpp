// The shape of the three schemas as the peers rely on it: packages, message
// order, enum numbers, reserved numbers and names, and which fields carry
// explicit presence. Read from the descriptors the runtime registered.

#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>

#include <string>
#include <vector>

#include "desktop_session.pb.h"
#include "dovral_host_bootstrap.pb.h"
#include "dovral_host_session.pb.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;

const FileDescriptor* file(const char* name) {
    // Touch one message per file so that its descriptors are built.
    marzel::desktop::sdk::session::DesktopSessionServerMessage::descriptor();
    marzel::desktop::hostbridge::bootstrap::BootstrapResponse::descriptor();
    marzel::desktop::hostbridge::session::SessionServerMessage::descriptor();
    return DescriptorPool::generated_pool()->FindFileByName(name);
}

struct FileShape {
    const char* name;
    const char* package;
    std::vector<std::string> messages;
    std::vector<std::string> enums;
};

const FileShape kFiles[] = {
    {"desktop_session.proto",
     "marzel.desktop.sdk.session",
     {"DesktopSessionClientMessage", "DesktopSessionAttachRequest", "DesktopSessionCommandRequest",
      "DesktopSessionServerMessage", "DesktopSessionCapabilitySet", "DesktopSessionUserProfile",
      "DesktopSessionAttachedResponse", "DesktopSessionCommandResponse",
      "DesktopSessionDetachedEvent", "DesktopSessionAntiAddictionChangedEvent",
      "DesktopSessionError"},
     {"DesktopSessionCommandType"}},
    {"dovral_host_bootstrap.proto",
     "marzel.desktop.hostbridge.bootstrap",
     {"BootstrapRequest", "RedeemLaunchTicketRequest", "BootstrapResponse",
      "RedeemLaunchTicketResponse", "BootstrapPlayer", "BootstrapError"},
     {}},
    {"dovral_host_session.proto",
     "marzel.desktop.hostbridge.session",
     {"SessionClientMessage", "SessionAttachRequest", "SessionCommandRequest",
      "SessionServerMessage", "SessionAttachedResponse", "SessionRoomSnapshotEvent", "RoomSnapshot",
      "PlayerSnapshot", "TeamSnapshot", "SessionCommandResponse", "SessionDataPlaneDescriptor",
      "SessionDataPlaneResponse", "SessionRoomEvent", "SessionDetachedEvent", "SessionError"},
     {"SessionCommandType", "SessionDataPlaneMode", "SessionRoomEventType"}},
};

TEST(SchemaShape, FilesDeclareTheirMessagesAndEnumsInOrder) {
    for (const FileShape& shape : kFiles) {
        const FileDescriptor* f = file(shape.name);
        ASSERT_NE(f, nullptr) << shape.name;
        EXPECT_EQ(f->package(), shape.package);
        EXPECT_EQ(f->syntax(), FileDescriptor::SYNTAX_PROTO3);
        EXPECT_EQ(f->dependency_count(), 0);
        EXPECT_EQ(f->service_count(), 0);
        std::vector<std::string> messages;
        for (int i = 0; i < f->message_type_count(); ++i) {
            messages.push_back(f->message_type(i)->name());
            EXPECT_EQ(f->message_type(i)->nested_type_count(), 0);
        }
        EXPECT_EQ(messages, shape.messages) << shape.name;
        std::vector<std::string> enums;
        for (int i = 0; i < f->enum_type_count(); ++i) {
            enums.push_back(f->enum_type(i)->name());
        }
        EXPECT_EQ(enums, shape.enums) << shape.name;
    }
}

struct EnumShape {
    const char* full_name;
    std::vector<std::pair<std::string, int>> values;
};

const EnumShape kEnums[] = {
    {"marzel.desktop.sdk.session.DesktopSessionCommandType",
     {{"DESKTOP_SESSION_COMMAND_TYPE_UNSPECIFIED", 0},
      {"DESKTOP_SESSION_COMMAND_TYPE_PING_DESKTOP_SESSION", 1},
      {"DESKTOP_SESSION_COMMAND_TYPE_UNLOCK_ACHIEVEMENT", 2},
      {"DESKTOP_SESSION_COMMAND_TYPE_REPORT_ACHIEVEMENT_PROGRESS", 3},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_CAPABILITIES", 5},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_USER_AVATAR_INFO", 7},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_USER_AVATAR", 8},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_ANTI_ADDICTION_STATUS", 9},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_ANTI_ADDICTION_EVENT", 10},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_ANTI_ADDICTION_AGE_RANGE", 11},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_ANTI_ADDICTION_REMAINING_TIME", 12},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_ANTI_ADDICTION_PROFILE", 13},
      {"DESKTOP_SESSION_COMMAND_TYPE_CREATE_DESKTOP_ANTI_ADDICTION_REAL_NAME_URL", 15},
      {"DESKTOP_SESSION_COMMAND_TYPE_CLEAR_ACHIEVEMENTS", 16},
      {"DESKTOP_SESSION_COMMAND_TYPE_LYING_BOTTLE_FORWARD", 17},
      {"DESKTOP_SESSION_COMMAND_TYPE_REQUEST_HOSTED_BOOTSTRAP", 18},
      {"DESKTOP_SESSION_COMMAND_TYPE_CLOUD_ARCHIVE_FORWARD", 19},
      {"DESKTOP_SESSION_COMMAND_TYPE_LEADERBOARD_FORWARD", 20},
      {"DESKTOP_SESSION_COMMAND_TYPE_REQUEST_DESKTOP_SHARE", 21},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_USER_PROFILE", 22},
      {"DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_PLAYER_PROFILES", 23},
      {"DESKTOP_SESSION_COMMAND_TYPE_SUBMIT_DESKTOP_ANTI_ADDICTION_REAL_NAME", 24}}},
    {"marzel.desktop.hostbridge.session.SessionCommandType",
     {{"SESSION_COMMAND_TYPE_UNSPECIFIED", 0},
      {"SESSION_COMMAND_TYPE_SET_READY", 1},
      {"SESSION_COMMAND_TYPE_LEAVE_ROOM", 2},
      {"SESSION_COMMAND_TYPE_START_GAME", 3},
      {"SESSION_COMMAND_TYPE_CHANGE_TEAM", 4},
      {"SESSION_COMMAND_TYPE_REFRESH_ROOM", 5},
      {"SESSION_COMMAND_TYPE_REQUEST_DATA_PLANE", 7},
      {"SESSION_COMMAND_TYPE_FINISH_GAME", 15},
      {"SESSION_COMMAND_TYPE_REMATCH_GAME", 16},
      {"SESSION_COMMAND_TYPE_UNLOCK_ACHIEVEMENT", 17},
      {"SESSION_COMMAND_TYPE_REPORT_ACHIEVEMENT_PROGRESS", 18},
      {"SESSION_COMMAND_TYPE_CLEAR_ACHIEVEMENTS", 19}}},
    {"marzel.desktop.hostbridge.session.SessionDataPlaneMode",
     {{"SESSION_DATA_PLANE_MODE_UNSPECIFIED", 0}, {"SESSION_DATA_PLANE_MODE_DIRECT_KCP", 1}}},
    {"marzel.desktop.hostbridge.session.SessionRoomEventType",
     {{"SESSION_ROOM_EVENT_TYPE_UNSPECIFIED", 0},
      {"SESSION_ROOM_EVENT_TYPE_PLAYER_JOINED", 1},
      {"SESSION_ROOM_EVENT_TYPE_PLAYER_LEFT", 2},
      {"SESSION_ROOM_EVENT_TYPE_HOST_TRANSFERRED", 3},
      {"SESSION_ROOM_EVENT_TYPE_GAME_STARTED", 4},
      {"SESSION_ROOM_EVENT_TYPE_GAME_ENDED", 5}}},
};

TEST(SchemaShape, EnumValuesKeepTheirNumbers) {
    file("desktop_session.proto");
    for (const EnumShape& shape : kEnums) {
        const EnumDescriptor* e =
            DescriptorPool::generated_pool()->FindEnumTypeByName(shape.full_name);
        ASSERT_NE(e, nullptr) << shape.full_name;
        std::vector<std::pair<std::string, int>> values;
        for (int i = 0; i < e->value_count(); ++i) {
            values.emplace_back(e->value(i)->name(), e->value(i)->number());
        }
        EXPECT_EQ(values, shape.values) << shape.full_name;
    }
}

struct ReservedShape {
    const char* full_name;
    std::string ranges;  // inclusive ranges as "a-b" joined by commas
    std::vector<std::string> names;
};

template <typename D>
std::string reserved_ranges(const D* d, int end_offset) {
    std::string text;
    for (int i = 0; i < d->reserved_range_count(); ++i) {
        const auto* range = d->reserved_range(i);
        if (!text.empty()) {
            text += ",";
        }
        text += std::to_string(range->start) + "-" + std::to_string(range->end - end_offset);
    }
    return text;
}

template <typename D>
std::vector<std::string> reserved_names(const D* d) {
    std::vector<std::string> names;
    for (int i = 0; i < d->reserved_name_count(); ++i) {
        names.push_back(d->reserved_name(i));
    }
    return names;
}

TEST(SchemaShape, ReservedNumbersAndNamesAreDeclared) {
    file("desktop_session.proto");
    const DescriptorPool* pool = DescriptorPool::generated_pool();
    // Message reserved ranges are end-exclusive in descriptors; enum ones
    // are end-inclusive.
    const ReservedShape kMessages[] = {
        {"marzel.desktop.sdk.session.DesktopSessionCapabilitySet", "2-2", {}},
        {"marzel.desktop.hostbridge.bootstrap.RedeemLaunchTicketResponse", "10-13", {}},
        {"marzel.desktop.hostbridge.session.SessionCommandRequest",
         "5-5,6-6,8-13",
         {"message_type", "target_player_id", "reliable", "timestamp", "scope", "key", "rpc_name",
          "mode"}},
        {"marzel.desktop.hostbridge.session.SessionServerMessage", "4-4", {"dovral_message"}},
    };
    for (const ReservedShape& shape : kMessages) {
        const Descriptor* d = pool->FindMessageTypeByName(shape.full_name);
        ASSERT_NE(d, nullptr) << shape.full_name;
        EXPECT_EQ(reserved_ranges(d, 1), shape.ranges) << shape.full_name;
        EXPECT_EQ(reserved_names(d), shape.names) << shape.full_name;
    }
    const ReservedShape kEnumsReserved[] = {
        {"marzel.desktop.sdk.session.DesktopSessionCommandType", "4-4,14-14", {}},
        {"marzel.desktop.hostbridge.session.SessionCommandType",
         "6-6,8-14",
         {"SESSION_COMMAND_TYPE_SEND_DOVRAL_MESSAGE", "SESSION_COMMAND_TYPE_SEND_PING",
          "SESSION_COMMAND_TYPE_SET_STATE", "SESSION_COMMAND_TYPE_GET_STATE",
          "SESSION_COMMAND_TYPE_RESET_STATE", "SESSION_COMMAND_TYPE_REGISTER_RPC",
          "SESSION_COMMAND_TYPE_UNREGISTER_RPC", "SESSION_COMMAND_TYPE_CALL_RPC"}},
    };
    for (const ReservedShape& shape : kEnumsReserved) {
        const EnumDescriptor* e = pool->FindEnumTypeByName(shape.full_name);
        ASSERT_NE(e, nullptr) << shape.full_name;
        EXPECT_EQ(reserved_ranges(e, 0), shape.ranges) << shape.full_name;
        EXPECT_EQ(reserved_names(e), shape.names) << shape.full_name;
    }
}

TEST(SchemaShape, OnlyTheListedScalarsHaveExplicitPresence) {
    std::vector<std::string> optional_fields;
    std::vector<std::string> oneofs;
    for (const FileShape& shape : kFiles) {
        const FileDescriptor* f = file(shape.name);
        ASSERT_NE(f, nullptr);
        for (int m = 0; m < f->message_type_count(); ++m) {
            const Descriptor* d = f->message_type(m);
            for (int i = 0; i < d->field_count(); ++i) {
                const FieldDescriptor* field = d->field(i);
                EXPECT_FALSE(field->has_json_name() &&
                             field->json_name() != field->camelcase_name())
                    << field->full_name();
                if (field->has_optional_keyword()) {
                    optional_fields.push_back(field->full_name());
                }
            }
            for (int i = 0; i < d->oneof_decl_count(); ++i) {
                oneofs.push_back(d->name() + "." + d->oneof_decl(i)->name());
            }
        }
    }
    const std::vector<std::string> kOptional = {
        "marzel.desktop.hostbridge.session.SessionCommandRequest.bool_value",
        "marzel.desktop.hostbridge.session.SessionCommandRequest.string_value",
        "marzel.desktop.hostbridge.session.SessionCommandRequest.content_json",
        "marzel.desktop.hostbridge.session.PlayerSnapshot.is_ready",
        "marzel.desktop.hostbridge.session.PlayerSnapshot.is_bot",
        "marzel.desktop.hostbridge.session.SessionDataPlaneDescriptor.sdk_descriptor_json",
    };
    EXPECT_EQ(optional_fields, kOptional);
    const std::vector<std::string> kOneofs = {
        "DesktopSessionClientMessage.body",
        "DesktopSessionServerMessage.body",
        "BootstrapResponse.body",
        "SessionClientMessage.body",
        "SessionCommandRequest._bool_value",
        "SessionCommandRequest._string_value",
        "SessionCommandRequest._content_json",
        "SessionServerMessage.body",
        "PlayerSnapshot._is_ready",
        "PlayerSnapshot._is_bot",
        "SessionDataPlaneDescriptor._sdk_descriptor_json",
    };
    EXPECT_EQ(oneofs, kOneofs);
}

}  // namespace
