// The codec keeps no state, so the session worker and the engine's thread may
// use it at once: request ids drawn concurrently stay distinct, and the first
// capability reads (which build the schema's descriptors) may race.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "desktop/desktop_session_codec.hpp"
#include "desktop/request_id.hpp"
#include "support/wire_hex.hpp"

namespace {

using qop::desktop::decode_server_message;
using qop::desktop::DecodedServerMessage;
using qop::desktop::SdkError;

constexpr int kThreads = 8;
constexpr int kIdsPerThread = 250;

TEST(CodecConcurrency, ThreadsDrawDistinctRequestIdsAndDecodeTogether) {
    const std::vector<std::uint8_t> attached = qop::test::wire_bytes("0A 04 32 02 08 01");
    std::vector<std::vector<std::string>> ids(kThreads);
    std::vector<int> decoded(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kIdsPerThread; ++i) {
                // Alternate the system source and the fallback generator.
                ids[t].push_back(i % 2 == 0
                                     ? qop::desktop::new_request_id()
                                     : qop::desktop::new_request_id_from_source("no-such-source"));
                DecodedServerMessage out;
                SdkError error;
                if (decode_server_message(attached, out, error) && out.attached.capabilities[1]) {
                    ++decoded[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<std::string> seen;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(decoded[t], kIdsPerThread);
        seen.insert(ids[t].begin(), ids[t].end());
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kIdsPerThread));
}

}  // namespace
