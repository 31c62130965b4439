#include "platform/worker/worker_pasteboard.h"

#include <QMetaObject>
#include <utility>

namespace brimlet::platform {

std::unique_ptr<WorkerPasteboard> WorkerPasteboard::open(const StartWorker& start) {
    std::unique_ptr<WorkerPasteboard> pasteboard(new WorkerPasteboard());
    WorkerPasteboard* const target = pasteboard.get();
    // The worker outlives no snapshot it posts: the destructor joins it first,
    // and Qt drops queued calls to a destroyed object.
    pasteboard->worker_ = start([target](SelectionSnapshot snapshot) {
        // Stamped here: a busy GUI thread must not make copies look quicker.
        QMetaObject::invokeMethod(
            target,
            [target, snapshot = std::move(snapshot),
             arrived = SnapshotQueue::Clock::now()]() mutable {
                target->receive(std::move(snapshot), arrived);
            },
            Qt::QueuedConnection);
    });
    if (!pasteboard->worker_) {
        return nullptr;
    }
    return pasteboard;
}

WorkerPasteboard::~WorkerPasteboard() {
    worker_.reset();
}

void WorkerPasteboard::receive(SelectionSnapshot snapshot,
                               SnapshotQueue::Clock::time_point arrived) {
    if (snapshot.writeGeneration != writes_) {
        return;  // read before our latest write replaced it
    }
    queue_.push(std::move(snapshot.text), arrived);
}

std::int64_t WorkerPasteboard::clearContents() {
    ++writes_;
    worker_->write(std::nullopt, writes_);
    return queue_.replace(std::nullopt);
}

bool WorkerPasteboard::setString(const Text& text) {
    ++writes_;
    queue_.replace(text);
    worker_->write(text, writes_);
    return worker_->connected();
}

}  // namespace brimlet::platform
