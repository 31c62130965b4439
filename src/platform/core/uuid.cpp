#include "platform/core/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace brimlet::platform {
namespace {

void fillRandom(std::array<std::uint8_t, 16>& bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (filled < bytes.size()) {
        // No getrandom (very old kernel): fall back to the library's device.
        std::random_device device;
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(device());
        }
    }
}

}  // namespace

Uuid Uuid::random() {
    std::array<std::uint8_t, 16> bytes{};
    fillRandom(bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return Uuid(bytes);
}

}  // namespace brimlet::platform
