// Request ids: version-4 UUID bytes as 32 lower-case hexadecimal digits.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "desktop/desktop_session_codec.hpp"
#include "desktop/request_id.hpp"

namespace {

using qop::desktop::format_request_id;
using qop::desktop::new_request_id;
using qop::desktop::new_request_id_from_source;
using qop::desktop::RequestIdBytes;

// Random sources libstdc++ does not know make std::random_device throw.
constexpr const char* kMissingSource = "no-such-random-source";

bool has_request_id_shape(const std::string& id) {
    if (id.size() != 32) {
        return false;
    }
    for (const char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return id[12] == '4' && std::string("89ab").find(id[16]) != std::string::npos;
}

TEST(RequestId, FormattingSetsVersionAndVariantBits) {
    struct Case {
        RequestIdBytes bytes;
        const char* text;
    };
    const Case cases[] = {
        {{}, "00000000000040008000000000000000"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF},
         "ffffffffffff4fffbfffffffffffffff"},
        {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
          0x0F},
         "000102030405460788090a0b0c0d0e0f"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format_request_id(c.bytes), c.text);
    }
}

TEST(RequestId, FreshIdsHaveTheShapeAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = new_request_id();
        ASSERT_TRUE(has_request_id_shape(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

TEST(RequestId, MissingSystemSourceFallsBackInsteadOfThrowing) {
    EXPECT_ANY_THROW(std::random_device device(kMissingSource));
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string id;
        ASSERT_NO_THROW(id = new_request_id_from_source(kMissingSource));
        ASSERT_TRUE(has_request_id_shape(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

}  // namespace
