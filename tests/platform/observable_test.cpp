#include "platform/observable.h"

#include <gtest/gtest.h>

#include <optional>

namespace brimlet::platform {
namespace {

TEST(WillChangePublisher, DroppedOrCancelledSubscriptionsHearNothing) {
    WillChangePublisher publisher;
    int a = 0;
    int b = 0;
    auto subA = publisher.subscribe([&] { ++a; });
    {
        auto subB = publisher.subscribe([&] { ++b; });
        publisher.send();
    }
    publisher.send();
    subA.cancel();
    publisher.send();
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
}

TEST(WillChangePublisher, ObserversMayCancelOthersWhileBeingTold) {
    WillChangePublisher publisher;
    int second = 0;
    std::optional<WillChangePublisher::Subscription> other;
    auto first = publisher.subscribe([&] { other.reset(); });
    other.emplace(publisher.subscribe([&] { ++second; }));
    publisher.send();
    publisher.send();
    EXPECT_EQ(second, 0);
}

TEST(WillChangePublisher, SubscriptionMayOutliveThePublisher) {
    WillChangePublisher::Subscription survivor;
    {
        WillChangePublisher publisher;
        survivor = publisher.subscribe([] {});
    }
    survivor.cancel();  // must not touch freed memory
    SUCCEED();
}

}  // namespace
}  // namespace brimlet::platform
