// The clipboard of a Wayland session through the compositor's data-control
// protocol, whatever platform Qt's windows use. A worker thread reads every
// new selection and hands the finished snapshot over; the counter moves when
// a snapshot arrives and on our own writes, which the worker serves byte for
// byte to every program that asks.
#pragma once

#include <QObject>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/pasteboard.h"
#include "platform/wayland/data_control_worker.h"

namespace brimlet::platform {

class WaylandPasteboard final : public QObject, public Pasteboard {
  public:
    // Made on the GUI thread, whose event loop receives the snapshots. Null
    // when `displayName` (null: $WAYLAND_DISPLAY) cannot be reached or the
    // compositor offers no data-control protocol.
    static std::unique_ptr<WaylandPasteboard> open(const char* displayName = nullptr,
                                                   TransferLimits limits = {});

    WaylandPasteboard(const WaylandPasteboard&) = delete;
    WaylandPasteboard& operator=(const WaylandPasteboard&) = delete;
    ~WaylandPasteboard() override;

    // Neither ever blocks. Snapshots that arrive faster than the counter is
    // read wait their turn; each read of the counter moves on by one.
    [[nodiscard]] std::int64_t changeCount() const override;
    [[nodiscard]] std::optional<Text> string() const override { return text_; }
    std::int64_t clearContents() override;
    bool setString(const Text& text) override;

    [[nodiscard]] const std::string& protocol() const { return worker_->protocol(); }

  private:
    WaylandPasteboard() = default;
    void receive(SelectionSnapshot snapshot);

    mutable std::int64_t changeCount_ = 0;
    mutable std::optional<Text> text_;
    mutable std::deque<std::optional<Text>> pending_;
    std::uint64_t writes_ = 0;
    std::unique_ptr<wayland::DataControlWorker> worker_;
};

}  // namespace brimlet::platform
