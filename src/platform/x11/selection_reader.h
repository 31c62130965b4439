// Reads another program's CLIPBOARD: TARGETS, then the text in the best
// form offered, one reading at a time, on the worker thread. Never waits:
// each step is a request whose answer comes as an event, within bounds.
#pragma once

#include <xcb/xcb.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/text.h"
#include "platform/worker/clipboard_worker.h"
#include "platform/x11/xcb_support.h"

namespace brimlet::platform::x11 {

// A property as an owner set it: the answer to a request, or one chunk of it.
struct PropertyValue {
    xcb_atom_t type = XCB_NONE;
    std::uint8_t format = 0;
    std::string bytes;
};

// What owners send, taken apart without a display. The targets a TARGETS
// answer lists; nothing when it is no list of atoms.
[[nodiscard]] std::optional<std::vector<xcb_atom_t>> listedTargets(const PropertyValue& value,
                                                                   const Atoms& atoms);
// Adds a chunk of an incremental answer; false when the whole would be
// longer than `maxBytes`.
[[nodiscard]] bool addChunk(PropertyValue& whole, const PropertyValue& chunk, std::size_t maxBytes);
// The text in an answer to `target`: only bytes of the type asked for are.
[[nodiscard]] std::optional<Text> answeredText(PropertyValue value, xcb_atom_t target,
                                               const Atoms& atoms);

class SelectionReader {
  public:
    // Called once per reading that ends, with its text or nothing (no plain
    // text, a password, too large, refused, too slow, superseded).
    using Finished = std::function<void(std::optional<Text>)>;

    SelectionReader(xcb_connection_t* c, xcb_window_t root, const Atoms& atoms,
                    const TransferLimits& limits, Finished finished);

    // Starts reading what the owner at `time` holds; one under way must
    // have ended first.
    void begin(xcb_timestamp_t time);
    [[nodiscard]] bool reading() const { return fetch_.has_value(); }
    // Ends the reading under way without text, as a change.
    void supersede();
    // Drops the reading under way silently: our own contents replace it.
    void abandon();

    // True when the event belonged to a reading, under way or given up.
    bool selectionNotify(const xcb_selection_notify_event_t& event);
    bool propertyNotify(const xcb_property_notify_event_t& event);

    void expire(Clock::time_point now);
    void considerDeadlines(NextDeadline& next) const;

  private:
    // An owner that does not list its targets is asked for the password
    // hint first: any answer to it means a password.
    enum class Step { Targets, Hint, Text };

    struct Fetch {
        // Each reading has a window of its own: a late answer to one given
        // up lands on a retired window instead of in a newer reading.
        xcb_window_t window = XCB_NONE;
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        Step step = Step::Targets;
        xcb_atom_t target = XCB_NONE;
        bool targetsKnown = false;
        // cppcheck-suppress unusedStructMember
        std::vector<xcb_atom_t> offered;
        // cppcheck-suppress unusedStructMember
        std::vector<xcb_atom_t> textTargets;
        bool incremental = false;
        PropertyValue incoming;
        Clock::time_point stepDeadline;
        Clock::time_point deadline;
    };

    struct Retired {
        xcb_window_t window;
        Clock::time_point until;
    };

    void request(xcb_atom_t target, Step step);
    void stepDone(std::optional<PropertyValue> value);
    void chooseText();
    [[nodiscard]] bool offers(xcb_atom_t target) const;
    void nextTextTarget();
    void incrementalChunk();
    void finish(std::optional<Text> text);
    void answeredLate(std::deque<Retired>::iterator retired, xcb_atom_t property);
    // Reads and deletes the property; nothing when it cannot be read or is
    // larger than we take.
    std::optional<PropertyValue> takeProperty(xcb_window_t window, xcb_atom_t property);

    xcb_connection_t* c_;
    xcb_window_t root_;
    Atoms atoms_;
    TransferLimits limits_;
    Finished finished_;
    std::optional<Fetch> fetch_;
    std::deque<Retired> retired_;
};

}  // namespace brimlet::platform::x11
