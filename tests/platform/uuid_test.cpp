#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace brimlet::platform {
namespace {

TEST(Uuid, RandomOnesAreVersionFourAndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 10000; ++i) {
        const Uuid id = Uuid::random();
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 10000U);
}

TEST(Uuid, PrintsInTheCanonicalForm) {
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 17);
    }
    EXPECT_EQ(Uuid(bytes).toString(), "00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_TRUE(Uuid().isNil());
    EXPECT_FALSE(Uuid::random().isNil());
}

}  // namespace
}  // namespace brimlet::platform
