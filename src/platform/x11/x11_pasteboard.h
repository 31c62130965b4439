// The CLIPBOARD selection on X11 without ever waiting on its owner in the GUI
// thread. A worker thread reads every new owner's text and hands the finished
// snapshot over; the counter moves when a snapshot arrives and on our own
// writes, which the worker serves byte for byte.
#pragma once

#include <QObject>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "platform/pasteboard.h"
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

    // Neither ever blocks. Snapshots that arrive faster than the counter is
    // read queue up, and each read of the counter moves on by one, so quick
    // successive copies each get their turn instead of only the last.
    [[nodiscard]] std::int64_t changeCount() const override;
    [[nodiscard]] std::optional<Text> string() const override { return text_; }
    std::int64_t clearContents() override;
    // The worker takes the clipboard over shortly after; the counter has
    // already moved, and our ownership is not counted again.
    bool setString(const Text& text) override;

  private:
    X11Pasteboard() = default;
    void receive(x11::SelectionSnapshot snapshot);

    // The snapshot shown now, and those waiting their turn. Reading the
    // counter is what moves the queue on, hence mutable.
    mutable std::int64_t changeCount_ = 0;
    mutable std::optional<Text> text_;
    mutable std::deque<std::optional<Text>> pending_;
    // Our own writes so far; snapshots read before the latest one are stale.
    std::uint64_t writes_ = 0;
    std::unique_ptr<x11::SelectionWorker> worker_;
};

}  // namespace brimlet::platform
