// The clipboard as the history sees it, fed by a worker thread that reads
// every change and serves our own text (ClipboardWorker), so the GUI thread
// never waits on another program. The snapshots wait in a SnapshotQueue,
// which decides what each read of the counter moves on to; our own writes
// move the counter too.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/pasteboard.h"
#include "platform/worker/clipboard_worker.h"
#include "platform/worker/snapshot_queue.h"

namespace brimlet::platform {

class WorkerPasteboard final : public QObject, public Pasteboard {
  public:
    using StartWorker = std::function<std::unique_ptr<ClipboardWorker>(ClipboardWorker::Deliver)>;

    // Made on the GUI thread, whose event loop receives the snapshots. Null
    // when `start` cannot make its worker.
    static std::unique_ptr<WorkerPasteboard> open(const StartWorker& start);

    WorkerPasteboard(const WorkerPasteboard&) = delete;
    WorkerPasteboard& operator=(const WorkerPasteboard&) = delete;
    ~WorkerPasteboard() override;

    // Neither ever blocks. Each read of the counter moves on to the next
    // snapshot the queue lets through, so quick successive copies each get
    // their turn, and a storm never keeps the next copy waiting.
    [[nodiscard]] std::int64_t changeCount() const override { return queue_.changeCount(); }
    [[nodiscard]] std::optional<Text> string() const override { return queue_.current(); }
    std::int64_t clearContents() override;
    // The worker takes the clipboard over shortly after; the counter has
    // already moved, and our own contents are not counted again.
    bool setString(const Text& text) override;
    // Whether the worker has taken the clipboard over with every write made
    // so far; the answer may be asked from any thread.
    [[nodiscard]] std::function<bool()> writesSettled() const {
        return [worker = worker_.get(), writes = writes_] {
            return worker->settledGeneration() >= writes;
        };
    }

  private:
    WorkerPasteboard() = default;
    void receive(SelectionSnapshot snapshot, SnapshotQueue::Clock::time_point arrived);

    // Reading the counter is what moves the queue on, hence mutable.
    mutable SnapshotQueue queue_;
    // Our own writes so far; snapshots read before the latest one are stale.
    std::uint64_t writes_ = 0;
    std::unique_ptr<ClipboardWorker> worker_;
};

}  // namespace brimlet::platform
