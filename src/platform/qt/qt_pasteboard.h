// The CLIPBOARD selection through QClipboard, with the change counter that
// X11 lacks: it moves on every change Qt reports and on our own writes.
#pragma once

#include <QClipboard>
#include <QObject>
#include <QPointer>

#include "platform/core/pasteboard.h"

namespace brimlet::platform {

class QtPasteboard final : public QObject, public Pasteboard {
  public:
    explicit QtPasteboard(QClipboard* clipboard, QObject* parent = nullptr);

    [[nodiscard]] std::int64_t changeCount() const override { return changeCount_; }
    [[nodiscard]] std::optional<Text> string() const override;
    std::int64_t clearContents() override;
    bool setString(const Text& text) override;

  private:
    void clipboardChanged();

    QPointer<QClipboard> clipboard_;
    std::int64_t changeCount_ = 0;
    // Set while we change the clipboard ourselves, so that Qt's report of our
    // own change does not count twice.
    bool writing_ = false;
};

}  // namespace brimlet::platform
