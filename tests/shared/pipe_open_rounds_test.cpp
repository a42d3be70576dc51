#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "shared/pipe_open_rounds.hpp"

namespace qop::network {
namespace {

using A = PipeAttempt;

struct RoundsCase {
    const char* name;
    std::vector<PipeAttempt> attempts;  // the last one repeats
    bool waits_for_server;
    std::size_t deadline_after;  // attempts made before the deadline passes
    bool cancelled;
    PipeOpenEnd end;
    std::size_t tried;
    std::size_t instance_waits;
    std::size_t server_waits;
};

constexpr std::size_t kNever = 1000;

const RoundsCase kRoundsCases[] = {
    {"BusyThenMissingThenOpened",
     {A::Busy, A::Missing, A::Opened},
     true,
     kNever,
     false,
     PipeOpenEnd::Opened,
     3,
     1,
     1},
    {"MissingWithoutServerWaitFails",
     {A::Missing},
     false,
     kNever,
     false,
     PipeOpenEnd::Failed,
     1,
     0,
     0},
    {"FailedIsNotTriedAgain",
     {A::Busy, A::Failed},
     true,
     kNever,
     false,
     PipeOpenEnd::Failed,
     2,
     1,
     0},
    {"BusyUntilTheDeadline", {A::Busy}, true, 3, false, PipeOpenEnd::TimedOut, 3, 3, 0},
    {"DeadlineBeforeCancel", {A::Opened}, true, 0, true, PipeOpenEnd::TimedOut, 0, 0, 0},
    {"CancelBeforeAnyAttempt", {A::Opened}, true, kNever, true, PipeOpenEnd::Cancelled, 0, 0, 0},
};

TEST(PipeOpenRoundsTest, EndsAsEachScriptDemands) {
    for (const RoundsCase& c : kRoundsCases) {
        std::size_t tried = 0;
        std::size_t instance_waits = 0;
        std::size_t server_waits = 0;
        PipeOpenRounds rounds;
        rounds.deadline_passed = [&] { return tried >= c.deadline_after; };
        rounds.cancelled = [&] { return c.cancelled; };
        rounds.try_open = [&] {
            const std::size_t index = tried < c.attempts.size() ? tried : c.attempts.size() - 1;
            ++tried;
            return c.attempts[index];
        };
        rounds.wait_for_instance = [&] { ++instance_waits; };
        if (c.waits_for_server) {
            rounds.wait_for_server = [&] { ++server_waits; };
        }
        EXPECT_EQ(open_pipe_in_rounds(rounds), c.end) << c.name;
        EXPECT_EQ(tried, c.tried) << c.name;
        EXPECT_EQ(instance_waits, c.instance_waits) << c.name;
        EXPECT_EQ(server_waits, c.server_waits) << c.name;
    }
}

}  // namespace
}  // namespace qop::network
