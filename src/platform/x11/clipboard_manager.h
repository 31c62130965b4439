// Brimlet as the X11 clipboard manager (CLIPBOARD_MANAGER), when no other
// runs: a program that quits asks us to save its clipboard first, and we say
// so once we have read it.
#pragma once

#include <xcb/xcb.h>

#include <vector>

#include "platform/x11/xcb_support.h"

namespace brimlet::platform::x11 {

class ClipboardManagerRole {
  public:
    ClipboardManagerRole(xcb_connection_t* c, xcb_window_t window, const Atoms& atoms)
        : c_(c), window_(window), atoms_(atoms) {}

    // Takes CLIPBOARD_MANAGER when nobody holds it; another manager keeps
    // the clipboard its own way, and is left be.
    void claim();
    [[nodiscard]] bool held() const { return held_; }
    // The server says another manager took over.
    void cleared(const xcb_selection_clear_event_t& event);
    // A request for CLIPBOARD_MANAGER; while `reading`, a save waits until
    // readingEnded().
    void request(const xcb_selection_request_event_t& event, bool reading);
    void readingEnded();

  private:
    xcb_connection_t* c_;
    xcb_window_t window_;
    Atoms atoms_;
    bool held_ = false;
    std::vector<xcb_selection_request_event_t> pendingSaves_;
};

}  // namespace brimlet::platform::x11
