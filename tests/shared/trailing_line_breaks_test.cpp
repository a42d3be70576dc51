#include <gtest/gtest.h>

#include <string>

#include "shared/trailing_line_breaks.hpp"

namespace qop::network {
namespace {

TEST(SystemTextTest, TrailingLineBreaksInAnyMixAreRemoved) {
    struct Case {
        std::wstring text;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"Timeout.\r\n", L"Timeout."},
        {L"Broken pipe.\n\r\n\r", L"Broken pipe."},
        {L"Line one.\r\nLine two.\r\n", L"Line one.\r\nLine two."},
        {L"\r\n", L""},
        {L"", L""},
        {L"No break", L"No break"},
        {L"Space \r\n", L"Space "},
    };
    for (Case c : cases) {
        strip_trailing_line_breaks(c.text);
        EXPECT_EQ(c.text, c.expected);
    }
}

}  // namespace
}  // namespace qop::network
