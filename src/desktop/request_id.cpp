#include "desktop/request_id.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "desktop/desktop_session_codec.hpp"

namespace qop::desktop {
namespace {

bool draw_from_system_source(const std::string& token, RequestIdBytes& bytes) {
    // std::random_device may throw when the system source is missing or
    // fails; an id must still be produced, so failure is only reported here.
    try {
        std::random_device device =
            token.empty() ? std::random_device() : std::random_device(token);
        for (std::uint8_t& byte : bytes) {
            byte = static_cast<std::uint8_t>(device() & 0xFFu);
        }
        return true;
    } catch (...) {
        return false;
    }
}

// Seeded once per thread from clocks, the thread's identity, an address and a
// process-wide counter, so that threads and processes starting together still
// diverge.
std::mt19937_64& fallback_generator() {
    static std::atomic<std::uint64_t> seeding_counter{0};
    thread_local std::mt19937_64 generator = [] {
        const auto steady =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        const auto wall =
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        const auto thread =
            static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
        const auto counter = seeding_counter.fetch_add(1, std::memory_order_relaxed);
        int stack_marker = 0;
        const auto address =
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&stack_marker));
        std::seed_seq seed{
            static_cast<std::uint32_t>(steady),       static_cast<std::uint32_t>(steady >> 32),
            static_cast<std::uint32_t>(wall),         static_cast<std::uint32_t>(wall >> 32),
            static_cast<std::uint32_t>(thread),       static_cast<std::uint32_t>(thread >> 32),
            static_cast<std::uint32_t>(counter),      static_cast<std::uint32_t>(address),
            static_cast<std::uint32_t>(address >> 32)};
        return std::mt19937_64(seed);
    }();
    return generator;
}

void draw_from_fallback(RequestIdBytes& bytes) {
    std::mt19937_64& generator = fallback_generator();
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator() & 0xFFu);
    }
}

}  // namespace

std::string format_request_id(RequestIdBytes bytes) {
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0Fu) | 0x40u);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3Fu) | 0x80u);
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0x0Fu]);
    }
    return text;
}

std::string new_request_id_from_source(const std::string& token) {
    RequestIdBytes bytes{};
    if (!draw_from_system_source(token, bytes)) {
        draw_from_fallback(bytes);
    }
    return format_request_id(bytes);
}

std::string new_request_id() {
    return new_request_id_from_source(std::string());
}

}  // namespace qop::desktop
