// Random (version 4) UUIDs for entry identities.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>

namespace brimlet::platform {

class Uuid {
  public:
    Uuid() = default;  // the nil UUID
    explicit Uuid(std::array<std::uint8_t, 16> bytes) : bytes_(bytes) {}

    // A fresh RFC 4122 version 4 UUID from the kernel's random source.
    static Uuid random();

    [[nodiscard]] const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    [[nodiscard]] bool isNil() const;
    [[nodiscard]] std::string toString() const;  // lower-case 8-4-4-4-12

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace brimlet::platform
