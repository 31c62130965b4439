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

X11Pasteboard::~X11Pasteboard() {
    worker_.reset();
}

namespace {

// Copies waiting for their turn; beyond this the oldest give way. More than
// the history holds could never all stay in it anyway.
constexpr std::size_t kMaxPending = 64;

}  // namespace

std::int64_t X11Pasteboard::changeCount() const {
    if (!pending_.empty()) {
        ++changeCount_;
        text_ = std::move(pending_.front());
        pending_.pop_front();
    }
    return changeCount_;
}

void X11Pasteboard::receive(x11::SelectionSnapshot snapshot) {
    if (snapshot.writeGeneration != writes_) {
        return;  // read before our latest write replaced it
    }
    pending_.push_back(std::move(snapshot.text));
    if (pending_.size() > kMaxPending) {
        pending_.pop_front();
    }
}

std::int64_t X11Pasteboard::clearContents() {
    ++writes_;
    pending_.clear();
    text_.reset();
    worker_->write(std::nullopt, writes_);
    return ++changeCount_;
}

bool X11Pasteboard::setString(const Text& text) {
    ++writes_;
    pending_.clear();
    ++changeCount_;
    text_ = text;
    worker_->write(text, writes_);
    return worker_->connected();
}

}  // namespace brimlet::platform
