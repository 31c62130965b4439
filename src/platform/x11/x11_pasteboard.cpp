#include "platform/x11/x11_pasteboard.h"

#include <QMetaObject>
#include <utility>

namespace brimlet::platform {

std::unique_ptr<X11Pasteboard> X11Pasteboard::open(const char* displayName,
                                                   x11::SelectionLimits limits) {
    std::unique_ptr<X11Pasteboard> pasteboard(new X11Pasteboard());
    X11Pasteboard* const target = pasteboard.get();
    // The worker outlives no snapshot it posts: the destructor joins it first,
    // and Qt drops queued calls to a destroyed object.
    pasteboard->worker_ = x11::SelectionWorker::start(
        displayName,
        [target](x11::SelectionSnapshot snapshot) {
            // Stamped here: a busy GUI thread must not make copies look quicker.
            QMetaObject::invokeMethod(
                target,
                [target, snapshot = std::move(snapshot),
                 arrived = SnapshotQueue::Clock::now()]() mutable {
                    target->receive(std::move(snapshot), arrived);
                },
                Qt::QueuedConnection);
        },
        limits);
    if (!pasteboard->worker_) {
        return nullptr;
    }
    return pasteboard;
}

X11Pasteboard::~X11Pasteboard() {
    worker_.reset();
}

void X11Pasteboard::receive(x11::SelectionSnapshot snapshot,
                            SnapshotQueue::Clock::time_point arrived) {
    if (snapshot.writeGeneration != writes_) {
        return;  // read before our latest write replaced it
    }
    queue_.push(std::move(snapshot.text), arrived);
}

std::int64_t X11Pasteboard::clearContents() {
    ++writes_;
    worker_->write(std::nullopt, writes_);
    return queue_.replace(std::nullopt);
}

bool X11Pasteboard::setString(const Text& text) {
    ++writes_;
    queue_.replace(text);
    worker_->write(text, writes_);
    return worker_->connected();
}

}  // namespace brimlet::platform
