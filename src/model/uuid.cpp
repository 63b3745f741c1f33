#include "model/uuid.hpp"

#include "model/hash_combine.hpp"

#include <chrono>
#include <random>
#include <thread>

namespace chordwell {

namespace {

std::mt19937_64 makeGenerator() {
    std::seed_seq::result_type seeds[8] = {};
    try {
        std::random_device device;
        for (auto& s : seeds) {
            s = device();
        }
    } catch (...) {
        // No entropy source: fall back to the clock and the thread, which is
        // still unique enough for record identities.
        const auto now = static_cast<std::uint64_t>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count());
        const auto tid = std::hash<std::thread::id>{}(std::this_thread::get_id());
        seeds[0] = static_cast<std::seed_seq::result_type>(now);
        seeds[1] = static_cast<std::seed_seq::result_type>(now >> 32);
        seeds[2] = static_cast<std::seed_seq::result_type>(tid);
        seeds[3] = static_cast<std::seed_seq::result_type>(tid >> 32);
    }
    std::seed_seq sequence(std::begin(seeds), std::end(seeds));
    return std::mt19937_64(sequence);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

constexpr bool isHyphenPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

} // namespace

Uuid Uuid::random() {
    // One generator per thread: no lock, no shared state.
    thread_local std::mt19937_64 generator = makeGenerator();
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t value = generator();
        for (std::size_t i = 0; i < 8; ++i) {
            bytes[half * 8 + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 16> bytes{};
    std::size_t byteIndex = 0;
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            continue;
        }
        const int digit = hexDigitValue(text[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes[byteIndex++] = static_cast<std::uint8_t>((high << 4) | digit);
            high = -1;
        }
    }
    return Uuid(bytes);
}

std::string Uuid::toString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kDigits[bytes_[i] >> 4]);
        text.push_back(kDigits[bytes_[i] & 0x0F]);
    }
    return text;
}

bool Uuid::isNil() const {
    for (std::uint8_t b : bytes_) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

std::size_t hashValue(const Uuid& uuid) {
    std::size_t seed = 0;
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            value |= static_cast<std::uint64_t>(uuid.bytes()[half * 8 + i]) << (8 * i);
        }
        detail::hashCombine(seed, value);
    }
    return seed;
}

} // namespace chordwell
