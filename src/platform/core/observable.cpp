#include "platform/core/observable.h"

#include <vector>

namespace brimlet::platform {

WillChangePublisher::Subscription& WillChangePublisher::Subscription::operator=(
    Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        registry_ = std::move(other.registry_);
        key_ = other.key_;
        other.key_ = 0;
    }
    return *this;
}

void WillChangePublisher::Subscription::cancel() {
    if (auto registry = registry_.lock()) {
        registry->observers.erase(key_);
    }
    registry_.reset();
}

WillChangePublisher::WillChangePublisher()
    : registry_(std::make_shared<Subscription::Registry>()) {}

WillChangePublisher::Subscription WillChangePublisher::subscribe(std::function<void()> observer) {
    const std::uint64_t key = registry_->nextKey++;
    registry_->observers.emplace(key, std::move(observer));
    return {registry_, key};
}

void WillChangePublisher::send() const {
    // Observers may subscribe or cancel while they are told; each one present
    // when the event starts hears it once, unless it is cancelled first.
    std::vector<std::uint64_t> keys;
    keys.reserve(registry_->observers.size());
    for (const auto& entry : registry_->observers) {
        keys.push_back(entry.first);
    }
    const auto registry = registry_;
    for (const auto key : keys) {
        const auto it = registry->observers.find(key);
        if (it != registry->observers.end()) {
            auto observer = it->second;
            observer();
        }
    }
}

}  // namespace brimlet::platform
