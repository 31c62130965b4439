// A value-less "will change" event that observers receive synchronously,
// before each mutation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

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
        struct Slots;
        Subscription(std::weak_ptr<Slots> slots, std::uint64_t key)
            : slots_(std::move(slots)), key_(key) {}
        std::weak_ptr<Slots> slots_;
        std::uint64_t key_ = 0;
    };

    WillChangePublisher();
    // The subscription ends when the returned handle is dropped.
    [[nodiscard]] Subscription subscribe(std::function<void()> observer);
    void send() const;

  private:
    std::shared_ptr<Subscription::Slots> slots_;
};

struct WillChangePublisher::Subscription::Slots {
    std::uint64_t nextKey = 1;
    std::map<std::uint64_t, std::function<void()>> observers;
};

}  // namespace brimlet::platform
