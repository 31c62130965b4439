#include "platform/wayland/wayland_pasteboard.h"

#include <QMetaObject>
#include <utility>

namespace brimlet::platform {
namespace {

// Copies waiting for their turn; beyond this the oldest give way.
constexpr std::size_t kMaxPending = 64;

}  // namespace

std::unique_ptr<WaylandPasteboard> WaylandPasteboard::open(const char* displayName,
                                                           TransferLimits limits) {
    std::unique_ptr<WaylandPasteboard> pasteboard(new WaylandPasteboard());
    WaylandPasteboard* const target = pasteboard.get();
    // The worker outlives no snapshot it posts: the destructor joins it first,
    // and Qt drops queued calls to a destroyed object.
    pasteboard->worker_ = wayland::DataControlWorker::start(
        displayName,
        [target](SelectionSnapshot snapshot) {
            QMetaObject::invokeMethod(
                target,
                [target, snapshot = std::move(snapshot)]() mutable {
                    target->receive(std::move(snapshot));
                },
                Qt::QueuedConnection);
        },
        limits);
    if (!pasteboard->worker_) {
        return nullptr;
    }
    return pasteboard;
}

WaylandPasteboard::~WaylandPasteboard() {
    worker_.reset();
}

std::int64_t WaylandPasteboard::changeCount() const {
    if (!pending_.empty()) {
        ++changeCount_;
        text_ = std::move(pending_.front());
        pending_.pop_front();
    }
    return changeCount_;
}

void WaylandPasteboard::receive(SelectionSnapshot snapshot) {
    if (snapshot.writeGeneration != writes_) {
        return;  // read before our latest write replaced it
    }
    pending_.push_back(std::move(snapshot.text));
    if (pending_.size() > kMaxPending) {
        pending_.pop_front();
    }
}

std::int64_t WaylandPasteboard::clearContents() {
    ++writes_;
    pending_.clear();
    text_.reset();
    worker_->write(std::nullopt, writes_);
    return ++changeCount_;
}

bool WaylandPasteboard::setString(const Text& text) {
    ++writes_;
    pending_.clear();
    ++changeCount_;
    text_ = text;
    worker_->write(text, writes_);
    return worker_->connected();
}

}  // namespace brimlet::platform
