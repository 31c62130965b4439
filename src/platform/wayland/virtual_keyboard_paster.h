// Pasting into the window the user came from, in a Wayland session whose
// compositor offers a virtual keyboard (zwp_virtual_keyboard_v1) and its
// list of windows (zwlr_foreign_toplevel_manager_v1), as wlroots
// compositors do: the window that was active when the panel opened is
// activated again, and once it is, Shift+Insert goes through the virtual
// keyboard. The PRIMARY selection gets the text through data-control where
// the compositor offers it. A thread with its own connection does it all.
#pragma once

#include <memory>
#include <string>

#include "platform/core/paster.h"

namespace brimlet::platform::wayland {

class VirtualKeyboardPaster final : public Paster {
  public:
    // Null when the compositor at `displayName` (null: $WAYLAND_DISPLAY)
    // lacks either protocol. Windows whose app id is `ownAppId` are ours.
    static std::unique_ptr<VirtualKeyboardPaster> open(const char* displayName,
                                                       std::string ownAppId);
    // Whether the compositor offers both protocols, asked without starting
    // anything.
    [[nodiscard]] static bool offered(const char* displayName);
    ~VirtualKeyboardPaster() override;

    [[nodiscard]] std::string method() const override { return "Wayland zwp_virtual_keyboard_v1"; }
    void remember() override;
    void pasteInto(const Text& text, std::function<bool()> clipboardReady) override;

    class Impl;

  private:
    VirtualKeyboardPaster() = default;

    std::unique_ptr<Impl> impl_;
    // The window to return to, as the thread names it; 0 for none.
    std::uint64_t remembered_ = 0;
};

}  // namespace brimlet::platform::wayland
