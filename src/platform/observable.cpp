#include "platform/observable.h"

#include <vector>

namespace brimlet::platform {

WillChangePublisher::Subscription& WillChangePublisher::Subscription::operator=(
    Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        slots_ = std::move(other.slots_);
        key_ = other.key_;
        other.key_ = 0;
    }
    return *this;
}

void WillChangePublisher::Subscription::cancel() {
    if (auto slots = slots_.lock()) {
        slots->observers.erase(key_);
    }
    slots_.reset();
}

WillChangePublisher::WillChangePublisher() : slots_(std::make_shared<Subscription::Slots>()) {}

WillChangePublisher::Subscription WillChangePublisher::subscribe(std::function<void()> observer) {
    const std::uint64_t key = slots_->nextKey++;
    slots_->observers.emplace(key, std::move(observer));
    return {slots_, key};
}

void WillChangePublisher::send() const {
    // Observers may subscribe or cancel while they are told; each one present
    // when the event starts hears it once, unless it is cancelled first.
    std::vector<std::uint64_t> keys;
    keys.reserve(slots_->observers.size());
    for (const auto& entry : slots_->observers) {
        keys.push_back(entry.first);
    }
    const auto slots = slots_;
    for (const auto key : keys) {
        const auto it = slots->observers.find(key);
        if (it != slots->observers.end()) {
            auto observer = it->second;
            observer();
        }
    }
}

}  // namespace brimlet::platform
