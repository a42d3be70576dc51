#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "network/json_nesting_limit.hpp"

namespace qop::test {
namespace {

struct NestingCase {
    const char* name;
    std::string json;
    bool too_deep;
};

void PrintTo(const NestingCase& c, std::ostream* os) {
    *os << c.name;
}

class JsonNesting : public ::testing::TestWithParam<NestingCase> {};

TEST_P(JsonNesting, MeasuresBracketsOutsideStrings) {
    EXPECT_EQ(network::json_nesting_exceeds(GetParam().json, 3), GetParam().too_deep);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonNesting,
    ::testing::Values(NestingCase{"Flat", R"({"a":1})", false},
                      NestingCase{"AtTheLimit", R"({"a":[{"b":1}]})", false},
                      NestingCase{"OverTheLimit", R"({"a":[{"b":[]}]})", true},
                      NestingCase{"SiblingsDoNotAdd", R"([[[]],[[]],[[]]])", false},
                      NestingCase{"BracketsInString", R"({"a":"[[[[{{{{"})", false},
                      NestingCase{"EscapedQuoteKeepsTheString", R"({"a":"\"[[[["})", false},
                      NestingCase{"EscapedBackslashEndsTheString", R"({"a":"\\","b":[[[]]]})",
                                  true},
                      NestingCase{"UnbalancedClosersDoNotWrap", R"(]]]]]]{[[[)", true},
                      NestingCase{"UnterminatedString", R"({"a":"[[[[[)", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qop::test
