// The CLIPBOARD selection on X11 without ever waiting on its owner in the GUI
// thread. A worker thread reads every new owner's text and hands the finished
// snapshot over; the snapshots wait in a SnapshotQueue, which decides what
// each read of the counter moves on to. Our own writes move it too, and the
// worker serves them byte for byte.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/pasteboard.h"
#include "platform/snapshot_queue.h"
#include "platform/x11/selection_worker.h"

namespace brimlet::platform {

class X11Pasteboard final : public QObject, public Pasteboard {
  public:
    // Made on the GUI thread, whose event loop receives the snapshots. Null
    // when `displayName` (null: $DISPLAY) cannot be reached or lacks XFixes.
    static std::unique_ptr<X11Pasteboard> open(const char* displayName = nullptr,
                                               x11::SelectionLimits limits = {});

    X11Pasteboard(const X11Pasteboard&) = delete;
    X11Pasteboard& operator=(const X11Pasteboard&) = delete;
    ~X11Pasteboard() override;

    // Neither ever blocks. Each read of the counter moves on to the next
    // snapshot the queue lets through, so quick successive copies each get
    // their turn, and a storm never keeps the next copy waiting.
    [[nodiscard]] std::int64_t changeCount() const override { return queue_.changeCount(); }
    [[nodiscard]] std::optional<Text> string() const override { return queue_.current(); }
    std::int64_t clearContents() override;
    // The worker takes the clipboard over shortly after; the counter has
    // already moved, and our ownership is not counted again.
    bool setString(const Text& text) override;

  private:
    X11Pasteboard() = default;
    void receive(x11::SelectionSnapshot snapshot, SnapshotQueue::Clock::time_point arrived);

    // Reading the counter is what moves the queue on, hence mutable.
    mutable SnapshotQueue queue_;
    // Our own writes so far; snapshots read before the latest one are stale.
    std::uint64_t writes_ = 0;
    std::unique_ptr<x11::SelectionWorker> worker_;
};

}  // namespace brimlet::platform
