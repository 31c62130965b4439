// Random (version 4) UUIDs for entry identities.
#pragma once

#include <array>
#include <compare>
#include <cstdint>

namespace brimlet::platform {

class Uuid {
  public:
    Uuid() = default;  // the nil UUID
    explicit Uuid(std::array<std::uint8_t, 16> bytes) : bytes_(bytes) {}

    // A fresh RFC 4122 version 4 UUID from the kernel's random source.
    static Uuid random();

    [[nodiscard]] const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace brimlet::platform
