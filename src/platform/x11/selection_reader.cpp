#include "platform/x11/selection_reader.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/worker/latin1.h"

namespace brimlet::platform::x11 {
namespace {

// A given-up reading's window stays until its owner has answered, or this
// long: an owner that answers late must still find it, or a program that
// dies on an X error (as Xlib's default handler makes most do) would lose
// its copy. The count bounds what hung owners in a storm can leave.
constexpr auto kRetiredWindowLife = std::chrono::seconds(10);
constexpr std::size_t kMaxRetiredWindows = 4096;

}  // namespace

std::optional<std::vector<xcb_atom_t>> listedTargets(const PropertyValue& value,
                                                     const Atoms& atoms) {
    if (value.format != 32 || (value.type != XCB_ATOM_ATOM && value.type != atoms.targets)) {
        return std::nullopt;
    }
    std::vector<xcb_atom_t> targets(value.bytes.size() / sizeof(xcb_atom_t));
    std::copy_n(value.bytes.data(), targets.size() * sizeof(xcb_atom_t),
                reinterpret_cast<char*>(targets.data()));
    return targets;
}

bool addChunk(PropertyValue& whole, const PropertyValue& chunk, std::size_t maxBytes) {
    if (whole.bytes.size() + chunk.bytes.size() > maxBytes) {
        return false;
    }
    whole.type = chunk.type;
    whole.format = chunk.format;
    whole.bytes += chunk.bytes;
    return true;
}

std::optional<Text> answeredText(PropertyValue value, xcb_atom_t target, const Atoms& atoms) {
    // An INTEGER or an image of format 8 is no text; either UTF-8 name will
    // do for either UTF-8 target.
    if (value.format != 8) {
        return std::nullopt;
    }
    if (target == XCB_ATOM_STRING) {
        return value.type == XCB_ATOM_STRING ? std::optional(Text(latin1ToUtf8(value.bytes)))
                                             : std::nullopt;
    }
    if (value.type != atoms.utf8String && value.type != atoms.textPlainUtf8) {
        return std::nullopt;
    }
    return Text(std::move(value.bytes));
}

SelectionReader::SelectionReader(xcb_connection_t* c, xcb_window_t root, const Atoms& atoms,
                                 const TransferLimits& limits, Finished finished)
    : c_(c), root_(root), atoms_(atoms), limits_(limits), finished_(std::move(finished)) {}

void SelectionReader::begin(xcb_timestamp_t time) {
    fetch_ = Fetch{};
    fetch_->window = makeWindow(c_, root_);
    fetch_->time = time;
    fetch_->deadline = Clock::now() + limits_.fetchTimeout;
    request(atoms_.targets, Step::Targets);
}

void SelectionReader::supersede() {
    if (fetch_) {
        finish(std::nullopt);
    }
}

void SelectionReader::abandon() {
    if (!fetch_) {
        return;
    }
    retired_.push_back({fetch_->window, Clock::now() + kRetiredWindowLife});
    if (retired_.size() > kMaxRetiredWindows) {
        xcb_destroy_window(c_, retired_.front().window);
        retired_.pop_front();
    }
    fetch_.reset();
}

void SelectionReader::finish(std::optional<Text> text) {
    abandon();
    finished_(std::move(text));
}

void SelectionReader::request(xcb_atom_t target, Step step) {
    fetch_->step = step;
    fetch_->target = target;
    fetch_->incremental = false;
    fetch_->incoming = {};
    fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
    xcb_convert_selection(c_, fetch_->window, atoms_.clipboard, target, atoms_.fetchProperty,
                          fetch_->time);
}

std::optional<PropertyValue> SelectionReader::takeProperty(xcb_window_t window,
                                                           xcb_atom_t property) {
    const std::size_t words = limits_.maxTextBytes / 4 + 1;
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(words, std::numeric_limits<std::uint32_t>::max()));
    // Deleting as we read also tells an incremental sender to go on.
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, length),
        nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    if (reply->bytes_after > 0 || size > limits_.maxTextBytes) {
        xcb_delete_property(c_, window, property);
        return std::nullopt;
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return PropertyValue{reply->type, reply->format, std::string(data, size)};
}

bool SelectionReader::selectionNotify(const xcb_selection_notify_event_t& event) {
    if (!fetch_ || event.requestor != fetch_->window) {
        const auto retired = std::find_if(retired_.begin(), retired_.end(), [&](const Retired& r) {
            return r.window == event.requestor;
        });
        if (retired == retired_.end()) {
            return false;
        }
        answeredLate(retired, event.property);
        return true;
    }
    if (event.selection != atoms_.clipboard || event.target != fetch_->target ||
        fetch_->incremental) {
        return true;
    }
    if (event.property == XCB_NONE) {
        stepDone(std::nullopt);  // refused
        return true;
    }
    std::optional<PropertyValue> value = takeProperty(fetch_->window, event.property);
    if (!value) {
        finish(std::nullopt);
    } else if (value->type == atoms_.incr) {
        // The owner now sends chunks, one each time we delete the property.
        fetch_->incremental = true;
        fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
    } else {
        stepDone(std::move(value));
    }
    return true;
}

void SelectionReader::answeredLate(std::deque<Retired>::iterator retired, xcb_atom_t property) {
    if (property != XCB_NONE) {
        // An incremental sender waits for us to delete the property, and
        // destroying the window would delete it: leave that to the timeout.
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, retired->window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
            nullptr));
        if (!reply || reply->type == atoms_.incr) {
            return;
        }
    }
    xcb_destroy_window(c_, retired->window);
    retired_.erase(retired);
}

bool SelectionReader::propertyNotify(const xcb_property_notify_event_t& event) {
    if (!fetch_ || event.window != fetch_->window) {
        return std::any_of(retired_.begin(), retired_.end(),
                           [&](const Retired& r) { return r.window == event.window; });
    }
    if (fetch_->incremental && event.atom == atoms_.fetchProperty &&
        event.state == XCB_PROPERTY_NEW_VALUE) {
        incrementalChunk();
    }
    return true;
}

void SelectionReader::incrementalChunk() {
    std::optional<PropertyValue> chunk = takeProperty(fetch_->window, atoms_.fetchProperty);
    if (!chunk) {
        finish(std::nullopt);
        return;
    }
    PropertyValue& whole = fetch_->incoming;
    if (chunk->bytes.empty()) {
        fetch_->incremental = false;
        stepDone(std::exchange(whole, PropertyValue{}));
        return;
    }
    if (!addChunk(whole, *chunk, limits_.maxTextBytes)) {
        finish(std::nullopt);
        return;
    }
    fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
}

bool SelectionReader::offers(xcb_atom_t target) const {
    return std::find(fetch_->offered.begin(), fetch_->offered.end(), target) !=
           fetch_->offered.end();
}

void SelectionReader::chooseText() {
    // UTF-8 first; STRING is ISO 8859-1 and the last resort.
    for (const xcb_atom_t target :
         {atoms_.utf8String, atoms_.textPlainUtf8, xcb_atom_t{XCB_ATOM_STRING}}) {
        // An owner without TARGETS gets asked for each in turn.
        if (!fetch_->targetsKnown || offers(target)) {
            fetch_->textTargets.push_back(target);
        }
    }
    nextTextTarget();
}

void SelectionReader::stepDone(std::optional<PropertyValue> value) {
    switch (fetch_->step) {
        case Step::Targets:
            if (std::optional<std::vector<xcb_atom_t>> targets =
                    value ? listedTargets(*value, atoms_) : std::nullopt) {
                fetch_->targetsKnown = true;
                fetch_->offered = std::move(*targets);
            }
            if (!fetch_->targetsKnown) {
                request(atoms_.passwordHint, Step::Hint);
            } else if (offers(atoms_.passwordHint)) {
                // A password never enters a history that anyone can open.
                finish(std::nullopt);
            } else {
                chooseText();
            }
            break;
        case Step::Hint:
            if (value) {
                finish(std::nullopt);
            } else {
                chooseText();
            }
            break;
        case Step::Text:
            if (std::optional<Text> text =
                    value ? answeredText(std::move(*value), fetch_->target, atoms_)
                          : std::nullopt) {
                finish(std::move(text));
            } else {
                nextTextTarget();
            }
            break;
    }
}

void SelectionReader::nextTextTarget() {
    if (fetch_->textTargets.empty()) {
        finish(std::nullopt);  // no plain text on offer
        return;
    }
    const xcb_atom_t target = fetch_->textTargets.front();
    fetch_->textTargets.erase(fetch_->textTargets.begin());
    request(target, Step::Text);
}

void SelectionReader::expire(Clock::time_point now) {
    if (fetch_ && (now >= fetch_->stepDeadline || now >= fetch_->deadline)) {
        // The owner is slow, hung or gone: no text this time. The next
        // change of owner is read afresh.
        finish(std::nullopt);
    }
    while (!retired_.empty() && now >= retired_.front().until) {
        xcb_destroy_window(c_, retired_.front().window);
        retired_.pop_front();
    }
}

void SelectionReader::considerDeadlines(NextDeadline& next) const {
    if (fetch_) {
        next.consider(fetch_->stepDeadline);
        next.consider(fetch_->deadline);
    }
    if (!retired_.empty()) {
        next.consider(retired_.front().until);
    }
}

}  // namespace brimlet::platform::x11
