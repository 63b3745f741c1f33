// UUIDs of records and mappings; text form is the canonical 36-character
// upper-case form with hyphens.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace chordwell {

class Uuid {
public:
    /// The nil UUID (all zero). Records never carry it; use random().
    Uuid() = default;
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    /// A fresh random (version 4) UUID.
    static Uuid random();
    /// Parses the 36-character form (either letter case); nothing on bad input.
    static std::optional<Uuid> parse(std::string_view text);

    /// Canonical upper-case form, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    bool isNil() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    // Spelled out: the libc++ of Xcode 15 has no operator<=> for std::array,
    // so a defaulted one would be deleted there.
    friend std::strong_ordering operator<=>(const Uuid& a, const Uuid& b) {
        for (std::size_t i = 0; i < a.bytes_.size(); ++i) {
            if (a.bytes_[i] != b.bytes_[i]) {
                return a.bytes_[i] <=> b.bytes_[i];
            }
        }
        return std::strong_ordering::equal;
    }

private:
    std::array<std::uint8_t, 16> bytes_{};
};

std::size_t hashValue(const Uuid& uuid);

} // namespace chordwell

template <> struct std::hash<chordwell::Uuid> {
    std::size_t operator()(const chordwell::Uuid& u) const noexcept {
        return chordwell::hashValue(u);
    }
};
