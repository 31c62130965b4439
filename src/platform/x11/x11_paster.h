// Pasting into the window the user came from, on X11: the focus goes back
// through the window manager (_NET_ACTIVE_WINDOW) or, without one, straight
// to the window, and Shift+Insert goes through the XTEST extension. The
// waiting is done by a thread with its own connection, which also serves
// the PRIMARY selection with the picked text.
#pragma once

#include <memory>
#include <string>

#include "platform/core/paster.h"

namespace brimlet::platform::x11 {

class X11Paster final : public Paster {
  public:
    // Null when `displayName` (null: $DISPLAY) cannot be reached or lacks
    // XTEST. Made on the GUI thread of a Qt application on X11.
    static std::unique_ptr<X11Paster> open(const char* displayName);
    // Whether the display offers XTEST, asked without starting anything.
    [[nodiscard]] static bool offered(const char* displayName);
    ~X11Paster() override;

    [[nodiscard]] std::string method() const override { return "XTEST"; }
    void remember() override;
    void pasteInto(const Text& text, std::function<bool()> clipboardReady) override;

    class Impl;

  private:
    X11Paster() = default;

    std::unique_ptr<Impl> impl_;
    // The window to return to; 0 for none.
    unsigned remembered_ = 0;
};

}  // namespace brimlet::platform::x11
