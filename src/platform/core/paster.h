// Pasting a picked entry where the user was: the window that had the
// keyboard focus when the panel opened gets it back, and then one
// Shift+Insert, which pastes the CLIPBOARD in most programs and the PRIMARY
// selection in most terminals. Where the desktop lets no program do that,
// the null paster does nothing and a pick only puts the entry back.
#pragma once

#include <functional>
#include <string>

#include "platform/core/text.h"

namespace brimlet::platform {

class Paster {
  public:
    virtual ~Paster() = default;

    // How keys are sent in this session, in a word or two ("XTEST"); empty
    // when they cannot be.
    [[nodiscard]] virtual std::string method() const = 0;
    [[nodiscard]] bool available() const { return !method().empty(); }

    // The panel is opening: notes the window that has the keyboard focus
    // now, unless it is one of ours. Bounded; called on the GUI thread.
    virtual void remember() = 0;
    // After a pick that put `text` back and closed the panel: `text` goes on
    // the PRIMARY selection too, the remembered window gets the focus back,
    // and, once it holds it and `clipboardReady` says the CLIPBOARD is ours,
    // it gets one Shift+Insert. Nothing is sent when the window has gone or
    // the focus does not come back in time. Returns at once; the window is
    // forgotten, so a pick pastes at most once.
    virtual void pasteInto(const Text& text, std::function<bool()> clipboardReady) = 0;
};

// Where no program may send keys to another.
class NullPaster final : public Paster {
  public:
    [[nodiscard]] std::string method() const override { return {}; }
    void remember() override {}
    void pasteInto(const Text& /*text*/, std::function<bool()> /*clipboardReady*/) override {}
};

}  // namespace brimlet::platform
