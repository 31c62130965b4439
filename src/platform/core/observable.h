// A value-less "will change" event that observers receive synchronously,
// before each mutation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace brimlet::platform {

class WillChangePublisher {
  public:
    class Subscription {
      public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&&) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { cancel(); }
        void cancel();

      private:
        friend class WillChangePublisher;
        struct Registry;
        Subscription(std::weak_ptr<Registry> registry, std::uint64_t key)
            : registry_(std::move(registry)), key_(key) {}
        std::weak_ptr<Registry> registry_;
        std::uint64_t key_ = 0;
    };

    WillChangePublisher();
    // The subscription ends when the returned handle is dropped.
    [[nodiscard]] Subscription subscribe(std::function<void()> observer);
    void send() const;

  private:
    std::shared_ptr<Subscription::Registry> registry_;
};

struct WillChangePublisher::Subscription::Registry {
    std::uint64_t nextKey = 1;
    std::map<std::uint64_t, std::function<void()>> observers;
};

}  // namespace brimlet::platform
