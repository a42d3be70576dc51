#include "shared/pipe_open_rounds.hpp"

namespace qop::network {

PipeOpenEnd open_pipe_in_rounds(const PipeOpenRounds& rounds) {
    for (;;) {
        if (rounds.deadline_passed()) {
            return PipeOpenEnd::TimedOut;
        }
        if (rounds.cancelled()) {
            return PipeOpenEnd::Cancelled;
        }
        switch (rounds.try_open()) {
            case PipeAttempt::Opened:
                return PipeOpenEnd::Opened;
            case PipeAttempt::Busy:
                rounds.wait_for_instance();
                break;
            case PipeAttempt::Missing:
                if (!rounds.wait_for_server) {
                    return PipeOpenEnd::Failed;
                }
                rounds.wait_for_server();
                break;
            case PipeAttempt::Failed:
                return PipeOpenEnd::Failed;
        }
    }
}

}  // namespace qop::network
