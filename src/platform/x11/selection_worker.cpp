#include "platform/x11/selection_worker.h"

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/worker/latin1.h"

namespace brimlet::platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// A given-up reading's window stays until its owner has answered, or this
// long: an owner that answers late must still find it, or a program that
// dies on an X error (as Xlib's default handler makes most do) would lose
// its copy. The count bounds what a hung owner in a storm can leave.
constexpr auto kRetiredWindowLife = std::chrono::seconds(10);
constexpr std::size_t kMaxRetiredWindows = 4096;
// The largest single property we write; bigger texts go incrementally.
constexpr std::size_t kMaxChunk = std::size_t{1} << 20;
// A fetch reads the owner's answers into this property of its own window.
constexpr std::string_view kFetchProperty = "BRIMLET_SELECTION";
// Appending nothing to this property of our window yields a server timestamp.
constexpr std::string_view kTimeProbe = "BRIMLET_TIME_PROBE";
// Password managers offer this target; its value varies ("secret", "1", with
// or without a line end), so its presence alone marks a password.
constexpr std::string_view kPasswordHint = "x-kde-passwordManagerHint";

// X timestamps wrap around after 49 days; compare them as the server does.
bool earlier(xcb_timestamp_t a, xcb_timestamp_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

struct Atoms {
    xcb_atom_t clipboard = XCB_NONE;
    xcb_atom_t targets = XCB_NONE;
    xcb_atom_t timestamp = XCB_NONE;
    xcb_atom_t incr = XCB_NONE;
    xcb_atom_t utf8String = XCB_NONE;
    xcb_atom_t textPlainUtf8 = XCB_NONE;
    xcb_atom_t passwordHint = XCB_NONE;
    xcb_atom_t fetchProperty = XCB_NONE;
    xcb_atom_t timeProbe = XCB_NONE;
    xcb_atom_t clipboardManager = XCB_NONE;
    xcb_atom_t saveTargets = XCB_NONE;
};

std::optional<Atoms> internAtoms(xcb_connection_t* c) {
    const std::string_view names[] = {"CLIPBOARD",   "TARGETS",
                                      "TIMESTAMP",   "INCR",
                                      "UTF8_STRING", "text/plain;charset=utf-8",
                                      kPasswordHint, kFetchProperty,
                                      kTimeProbe,    "CLIPBOARD_MANAGER",
                                      "SAVE_TARGETS"};
    Atoms atoms;
    xcb_atom_t* const slots[] = {
        &atoms.clipboard,  &atoms.targets,          &atoms.timestamp,    &atoms.incr,
        &atoms.utf8String, &atoms.textPlainUtf8,    &atoms.passwordHint, &atoms.fetchProperty,
        &atoms.timeProbe,  &atoms.clipboardManager, &atoms.saveTargets};
    std::vector<xcb_intern_atom_cookie_t> cookies;
    std::transform(std::begin(names), std::end(names), std::back_inserter(cookies),
                   [c](std::string_view name) {
                       return xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()),
                                              name.data());
                   });
    bool ok = true;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        if (reply) {
            *slots[i] = reply->atom;
        } else {
            ok = false;
        }
    }
    return ok ? std::optional<Atoms>(atoms) : std::nullopt;
}

}  // namespace

class SelectionWorker::Impl {
  public:
    Impl(Connection connection, xcb_window_t root, const Atoms& atoms, std::uint8_t xfixesEvent,
         Deliver deliver, SelectionLimits limits)
        : connection_(std::move(connection)),
          c_(connection_.get()),
          root_(root),
          atoms_(atoms),
          xfixesEvent_(xfixesEvent),
          deliver_(std::move(deliver)),
          limits_(limits) {
        // Leave room for the request header below the server's limit.
        const std::size_t maxRequest = std::size_t{xcb_get_maximum_request_length(c_)} * 4;
        chunk_ = std::min(kMaxChunk, maxRequest > 1024 ? maxRequest - 1024 : maxRequest / 2);

        window_ = makeWindow();
        xcb_xfixes_select_selection_input(
            c_, window_, atoms_.clipboard,
            XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(c_);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    ~Impl() {
        // Closing the connection destroys our windows and gives up the clipboard.
        connection_.reset();
    }

    void run();

    void post(std::optional<Text> text, std::uint64_t generation) {
        mailbox.post({std::move(text), generation});
    }
    void stop() { mailbox.stop(); }

    // Shared with the GUI thread.
    WorkerMailbox mailbox;
    std::thread thread;
    std::atomic<bool> connected{true};

  private:
    using Write = WorkerMailbox::Write;

    // Reading the clipboard: TARGETS, then the text in the best offered form.
    // An owner that does not list its targets is asked for the password hint
    // first: any answer to it means a password.
    enum class Step { Targets, Hint, Text };

    struct PropertyValue {
        xcb_atom_t type = XCB_NONE;
        std::uint8_t format = 0;
        std::string bytes;
    };

    struct Fetch {
        // Each fetch has a window of its own: a late answer to an abandoned
        // fetch lands on a retired window instead of in a newer reading.
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

    struct Owned {
        std::optional<Text> text;
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        bool latin1Checked = false;
        std::shared_ptr<const std::string> latin1{};
    };

    // An incremental transfer of our text to one requestor's property.
    struct Transfer {
        xcb_window_t requestor = XCB_NONE;
        xcb_atom_t property = XCB_NONE;
        xcb_atom_t type = XCB_NONE;
        Text text{};  // keeps `data` alive
        std::shared_ptr<const std::string> latin1{};
        std::string_view data;
        std::size_t offset = 0;
        Clock::time_point deadline{};
    };

    xcb_window_t makeWindow() {
        const xcb_window_t window = xcb_generate_id(c_);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        return window;
    }

    xcb_window_t currentOwner() {
        const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
            c_, xcb_get_selection_owner(c_, atoms_.clipboard), nullptr));
        return reply ? reply->owner : XCB_NONE;
    }

    void handle(const xcb_generic_event_t& event);
    void ownerChanged(const xcb_xfixes_selection_notify_event_t& event);
    void selectionNotify(const xcb_selection_notify_event_t& event);
    void propertyNotify(const xcb_property_notify_event_t& event);
    void selectionRequest(const xcb_selection_request_event_t& event);
    void selectionClear(const xcb_selection_clear_event_t& event);

    void acceptWrite(Write write);
    // Takes the CLIPBOARD_MANAGER selection when nobody holds it.
    void claimManager();
    // Serves `text` as the clipboard's after its owner went; false when
    // someone else took the clipboard first.
    bool keep(Text text, xcb_timestamp_t time);
    void answerManager(const xcb_selection_request_event_t& event);
    void notifyRequestor(const xcb_selection_request_event_t& event, xcb_atom_t property);
    void probeAnswered(xcb_timestamp_t time);

    void beginFetch(xcb_timestamp_t time);
    void request(xcb_atom_t target, Step step);
    void stepDone(std::optional<PropertyValue> value);
    [[nodiscard]] bool textType(xcb_atom_t target, xcb_atom_t type) const;
    void nextTextTarget();
    void incrementalChunk();
    // An owner answered a reading we had given up.
    void answeredLate(std::deque<Retired>::iterator retired, xcb_atom_t property);
    void finishFetch(std::optional<Text> text);
    void dropFetch();
    // Reads and deletes the property; nothing when it cannot be read or is
    // larger than we take.
    std::optional<PropertyValue> takeProperty(xcb_window_t window, xcb_atom_t property);

    bool answer(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target);
    void send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, Transfer transfer);
    void continueTransfer(xcb_window_t requestor, xcb_atom_t property);
    void endTransfer(std::vector<Transfer>::iterator transfer);
    const std::string* latin1();

    void deliver(std::optional<Text> text) {
        deliveredSinceWrite_ = true;
        deliver_(SelectionSnapshot{generation_, std::move(text)});
    }

    void expire(Clock::time_point now);
    [[nodiscard]] int pollTimeout(Clock::time_point now) const;

    Connection connection_;
    xcb_connection_t* c_;
    xcb_window_t root_;
    Atoms atoms_;
    std::uint8_t xfixesEvent_;
    Deliver deliver_;
    SelectionLimits limits_;
    std::size_t chunk_ = 0;
    xcb_window_t window_ = XCB_NONE;

    // The worker thread's own.
    std::uint64_t generation_ = 0;
    bool deliveredSinceWrite_ = false;
    std::optional<Write> pending_;
    bool probing_ = false;
    std::optional<Owned> owned_;
    // The clipboard manager's part: whether we hold CLIPBOARD_MANAGER, the
    // text read from the clipboard's current owner, and the owners waiting
    // for their text to be saved while we read it.
    bool managerOwned_ = false;
    std::optional<Text> lastRead_;
    std::vector<xcb_selection_request_event_t> pendingSaves_;
    std::optional<Fetch> fetch_;
    std::deque<Retired> retired_;
    std::vector<Transfer> transfers_;
};

void SelectionWorker::Impl::run() {
    claimManager();
    const xcb_window_t owner = currentOwner();
    if (owner != XCB_NONE && owner != window_) {
        beginFetch(XCB_CURRENT_TIME);
    }
    while (true) {
        std::optional<Write> write;
        if (!mailbox.take(write)) {
            return;
        }
        if (write) {
            acceptWrite(std::move(*write));
        }
        expire(Clock::now());

        // Handlers may send requests and their replies may queue more events:
        // go on until a flushed connection has nothing left.
        bool handled = true;
        while (handled) {
            xcb_flush(c_);
            handled = false;
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
                handled = true;
                handle(*event);
                std::free(event);
            }
        }
        if (xcb_connection_has_error(c_) != 0) {
            connected = false;
            return;
        }

        pollfd fds[] = {{xcb_get_file_descriptor(c_), POLLIN, 0}, {mailbox.fd(), POLLIN, 0}};
        if (::poll(fds, 2, pollTimeout(Clock::now())) > 0 && (fds[1].revents & POLLIN) != 0) {
            mailbox.drain();
        }
    }
}

void SelectionWorker::Impl::handle(const xcb_generic_event_t& event) {
    const auto type = static_cast<std::uint8_t>(event.response_type & 0x7F);
    if (type == 0) {
        // An error of a request nobody waits for, such as a write to the
        // window of a requestor that has gone away.
        return;
    }
    if (type == static_cast<std::uint8_t>(xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY)) {
        ownerChanged(reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event));
        return;
    }
    switch (type) {
        case XCB_SELECTION_NOTIFY:
            selectionNotify(reinterpret_cast<const xcb_selection_notify_event_t&>(event));
            break;
        case XCB_PROPERTY_NOTIFY:
            propertyNotify(reinterpret_cast<const xcb_property_notify_event_t&>(event));
            break;
        case XCB_SELECTION_REQUEST:
            selectionRequest(reinterpret_cast<const xcb_selection_request_event_t&>(event));
            break;
        case XCB_SELECTION_CLEAR:
            selectionClear(reinterpret_cast<const xcb_selection_clear_event_t&>(event));
            break;
        default:
            break;
    }
}

void SelectionWorker::Impl::ownerChanged(const xcb_xfixes_selection_notify_event_t& event) {
    if (event.selection != atoms_.clipboard || event.owner == window_) {
        // Our own ownership was counted on the GUI thread when it wrote.
        return;
    }
    if (owned_) {
        // An older owner's event can arrive after we took the clipboard back.
        if (currentOwner() == window_) {
            return;
        }
        owned_.reset();
    }
    if (fetch_) {
        // Superseded before it could be read: a change without readable text.
        finishFetch(std::nullopt);
    }
    if (event.owner == XCB_NONE) {
        // The owner quit or gave the clipboard up. As the clipboard manager
        // we keep the text we read from it; otherwise nothing is on it now.
        std::optional<Text> kept = std::exchange(lastRead_, std::nullopt);
        if (!(managerOwned_ && kept && keep(std::move(*kept), event.timestamp))) {
            deliver(std::nullopt);
        }
        return;
    }
    lastRead_.reset();
    beginFetch(event.timestamp);
}

void SelectionWorker::Impl::claimManager() {
    // Another clipboard manager keeps the clipboard its own way: leave it be.
    const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        c_, xcb_get_selection_owner(c_, atoms_.clipboardManager), nullptr));
    if (!reply || reply->owner != XCB_NONE) {
        return;
    }
    xcb_set_selection_owner(c_, window_, atoms_.clipboardManager, XCB_CURRENT_TIME);
    const Reply<xcb_get_selection_owner_reply_t> after(xcb_get_selection_owner_reply(
        c_, xcb_get_selection_owner(c_, atoms_.clipboardManager), nullptr));
    managerOwned_ = after && after->owner == window_;
}

bool SelectionWorker::Impl::keep(Text text, xcb_timestamp_t time) {
    xcb_set_selection_owner(c_, window_, atoms_.clipboard, time);
    if (currentOwner() != window_) {
        return false;
    }
    owned_ = Owned{.text = std::move(text), .time = time};
    return true;
}

void SelectionWorker::Impl::answerManager(const xcb_selection_request_event_t& event) {
    const xcb_atom_t property = event.property == XCB_NONE ? event.target : event.property;
    if (managerOwned_ && event.target == atoms_.saveTargets && fetch_) {
        // The owner waits while we read its text; it hears from us after.
        pendingSaves_.push_back(event);
        return;
    }
    bool served = false;
    if (managerOwned_ && event.target == atoms_.targets) {
        const std::array<xcb_atom_t, 3> offered{atoms_.targets, atoms_.timestamp,
                                                atoms_.saveTargets};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.requestor, property, XCB_ATOM_ATOM, 32,
                            offered.size(), offered.data());
        served = true;
    } else if (managerOwned_ && event.target == atoms_.saveTargets) {
        // What it holds was read when it took the clipboard; an empty reply
        // says that it has been saved.
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.requestor, property, XCB_ATOM_NONE, 32,
                            0, nullptr);
        served = true;
    }
    notifyRequestor(event, served ? property : XCB_NONE);
}

void SelectionWorker::Impl::notifyRequestor(const xcb_selection_request_event_t& event,
                                            xcb_atom_t property) {
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = event.time;
    notify.requestor = event.requestor;
    notify.selection = event.selection;
    notify.target = event.target;
    notify.property = property;
    xcb_send_event(c_, 0, event.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
}

void SelectionWorker::Impl::acceptWrite(Write write) {
    lastRead_.reset();
    // Whatever was being read is about to be replaced by our own contents.
    generation_ = write.generation;
    deliveredSinceWrite_ = false;
    dropFetch();
    pending_ = std::move(write);
    if (!probing_) {
        probing_ = true;
        xcb_change_property(c_, XCB_PROP_MODE_APPEND, window_, atoms_.timeProbe, XCB_ATOM_INTEGER,
                            32, 0, nullptr);
    }
}

void SelectionWorker::Impl::probeAnswered(xcb_timestamp_t time) {
    probing_ = false;
    if (!pending_) {
        return;
    }
    Write write = std::move(*pending_);
    pending_.reset();
    xcb_set_selection_owner(c_, window_, atoms_.clipboard, time);
    const xcb_window_t owner = currentOwner();
    if (owner == window_) {
        owned_ = Owned{.text = std::move(write.text), .time = time};
        if (fetch_ || deliveredSinceWrite_) {
            // Another program's copy came and went while we took over; what
            // the GUI thread holds must end as what the clipboard holds.
            dropFetch();
            deliver(owned_->text);
        }
        return;
    }
    // Another program took the clipboard after us: report what it holds.
    owned_.reset();
    if (!fetch_) {
        if (owner == XCB_NONE) {
            deliver(std::nullopt);
        } else {
            beginFetch(XCB_CURRENT_TIME);
        }
    }
}

void SelectionWorker::Impl::beginFetch(xcb_timestamp_t time) {
    const Clock::time_point now = Clock::now();
    fetch_ = Fetch{};
    fetch_->window = makeWindow();
    fetch_->time = time;
    fetch_->deadline = now + limits_.fetchTimeout;
    request(atoms_.targets, Step::Targets);
}

void SelectionWorker::Impl::request(xcb_atom_t target, Step step) {
    fetch_->step = step;
    fetch_->target = target;
    fetch_->incremental = false;
    fetch_->incoming = {};
    fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
    xcb_convert_selection(c_, fetch_->window, atoms_.clipboard, target, atoms_.fetchProperty,
                          fetch_->time);
}

std::optional<SelectionWorker::Impl::PropertyValue> SelectionWorker::Impl::takeProperty(
    xcb_window_t window, xcb_atom_t property) {
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

void SelectionWorker::Impl::selectionNotify(const xcb_selection_notify_event_t& event) {
    const auto retired = std::find_if(retired_.begin(), retired_.end(), [&](const Retired& r) {
        return r.window == event.requestor;
    });
    if (retired != retired_.end()) {
        answeredLate(retired, event.property);
        return;
    }
    if (!fetch_ || event.requestor != fetch_->window || event.selection != atoms_.clipboard ||
        event.target != fetch_->target || fetch_->incremental) {
        return;
    }
    if (event.property == XCB_NONE) {
        stepDone(std::nullopt);  // refused
        return;
    }
    std::optional<PropertyValue> value = takeProperty(fetch_->window, event.property);
    if (!value) {
        finishFetch(std::nullopt);
        return;
    }
    if (value->type == atoms_.incr) {
        // The owner now sends chunks, one each time we delete the property.
        fetch_->incremental = true;
        fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
        return;
    }
    stepDone(std::move(value));
}

void SelectionWorker::Impl::answeredLate(std::deque<Retired>::iterator retired,
                                         xcb_atom_t property) {
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

void SelectionWorker::Impl::incrementalChunk() {
    std::optional<PropertyValue> chunk = takeProperty(fetch_->window, atoms_.fetchProperty);
    if (!chunk) {
        finishFetch(std::nullopt);
        return;
    }
    PropertyValue& whole = fetch_->incoming;
    if (chunk->bytes.empty()) {
        fetch_->incremental = false;
        stepDone(std::exchange(whole, PropertyValue{}));
        return;
    }
    if (whole.bytes.size() + chunk->bytes.size() > limits_.maxTextBytes) {
        finishFetch(std::nullopt);
        return;
    }
    whole.type = chunk->type;
    whole.format = chunk->format;
    whole.bytes += chunk->bytes;
    fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
}

void SelectionWorker::Impl::stepDone(std::optional<PropertyValue> value) {
    const auto offers = [&](xcb_atom_t target) {
        return std::find(fetch_->offered.begin(), fetch_->offered.end(), target) !=
               fetch_->offered.end();
    };
    const auto chooseText = [&] {
        // UTF-8 first; STRING is ISO 8859-1 and the last resort.
        for (const xcb_atom_t target :
             {atoms_.utf8String, atoms_.textPlainUtf8, xcb_atom_t{XCB_ATOM_STRING}}) {
            // An owner without TARGETS gets asked for each in turn.
            if (!fetch_->targetsKnown || offers(target)) {
                fetch_->textTargets.push_back(target);
            }
        }
        nextTextTarget();
    };

    switch (fetch_->step) {
        case Step::Targets:
            if (value && value->format == 32 &&
                (value->type == XCB_ATOM_ATOM || value->type == atoms_.targets)) {
                fetch_->targetsKnown = true;
                const std::size_t count = value->bytes.size() / sizeof(xcb_atom_t);
                fetch_->offered.resize(count);
                std::copy_n(value->bytes.data(), count * sizeof(xcb_atom_t),
                            reinterpret_cast<char*>(fetch_->offered.data()));
            }
            if (!fetch_->targetsKnown) {
                request(atoms_.passwordHint, Step::Hint);
            } else if (offers(atoms_.passwordHint)) {
                // A password never enters a history that anyone can open.
                finishFetch(std::nullopt);
            } else {
                chooseText();
            }
            break;
        case Step::Hint:
            if (value) {
                finishFetch(std::nullopt);
            } else {
                chooseText();
            }
            break;
        case Step::Text:
            // Only the type asked for is text; an INTEGER or an image of
            // format 8 is not.
            if (value && value->format == 8 && textType(fetch_->target, value->type)) {
                if (fetch_->target == XCB_ATOM_STRING) {
                    finishFetch(Text(latin1ToUtf8(value->bytes)));
                } else {
                    finishFetch(Text(std::move(value->bytes)));
                }
            } else {
                nextTextTarget();
            }
            break;
    }
}

bool SelectionWorker::Impl::textType(xcb_atom_t target, xcb_atom_t type) const {
    if (target == XCB_ATOM_STRING) {
        return type == XCB_ATOM_STRING;
    }
    // Either UTF-8 name will do for either UTF-8 target.
    return type == atoms_.utf8String || type == atoms_.textPlainUtf8;
}

void SelectionWorker::Impl::nextTextTarget() {
    if (fetch_->textTargets.empty()) {
        finishFetch(std::nullopt);  // no plain text on offer
        return;
    }
    const xcb_atom_t target = fetch_->textTargets.front();
    fetch_->textTargets.erase(fetch_->textTargets.begin());
    request(target, Step::Text);
}

void SelectionWorker::Impl::finishFetch(std::optional<Text> text) {
    dropFetch();
    lastRead_ = text;
    for (const xcb_selection_request_event_t& save : std::exchange(pendingSaves_, {})) {
        answerManager(save);
    }
    deliver(std::move(text));
}

void SelectionWorker::Impl::dropFetch() {
    if (fetch_) {
        retired_.push_back({fetch_->window, Clock::now() + kRetiredWindowLife});
        if (retired_.size() > kMaxRetiredWindows) {
            xcb_destroy_window(c_, retired_.front().window);
            retired_.pop_front();
        }
        fetch_.reset();
    }
}

void SelectionWorker::Impl::propertyNotify(const xcb_property_notify_event_t& event) {
    if (fetch_ && event.window == fetch_->window) {
        if (fetch_->incremental && event.atom == atoms_.fetchProperty &&
            event.state == XCB_PROPERTY_NEW_VALUE) {
            incrementalChunk();
        }
        return;
    }
    if (event.window == window_) {
        if (event.atom == atoms_.timeProbe && event.state == XCB_PROPERTY_NEW_VALUE && probing_) {
            probeAnswered(event.time);
        }
        return;
    }
    if (event.state == XCB_PROPERTY_DELETE) {
        continueTransfer(event.window, event.atom);
    }
}

void SelectionWorker::Impl::selectionClear(const xcb_selection_clear_event_t& event) {
    if (event.selection == atoms_.clipboardManager && event.owner == window_) {
        managerOwned_ = false;  // another clipboard manager took over
        return;
    }
    // A clear from before we took the clipboard back is stale.
    if (event.selection == atoms_.clipboard && event.owner == window_ && owned_ &&
        !earlier(event.time, owned_->time)) {
        owned_.reset();
    }
}

void SelectionWorker::Impl::selectionRequest(const xcb_selection_request_event_t& event) {
    if (event.selection == atoms_.clipboardManager) {
        answerManager(event);
        return;
    }
    // Obsolete requestors name no property: the target doubles as one.
    const xcb_atom_t property = event.property == XCB_NONE ? event.target : event.property;
    const bool served = owned_ && event.owner == window_ && event.selection == atoms_.clipboard &&
                        (event.time == XCB_CURRENT_TIME || !earlier(event.time, owned_->time)) &&
                        answer(event.requestor, property, event.target);
    notifyRequestor(event, served ? property : XCB_NONE);
}

const std::string* SelectionWorker::Impl::latin1() {
    if (!owned_->latin1Checked) {
        owned_->latin1Checked = true;
        if (owned_->text) {
            if (std::optional<std::string> converted = utf8ToLatin1(owned_->text->bytes())) {
                owned_->latin1 = std::make_shared<const std::string>(std::move(*converted));
            }
        }
    }
    return owned_->latin1.get();
}

bool SelectionWorker::Impl::answer(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target) {
    if (target == atoms_.targets) {
        std::vector<xcb_atom_t> offered{atoms_.targets, atoms_.timestamp};
        if (owned_->text) {
            offered.push_back(atoms_.utf8String);
            offered.push_back(atoms_.textPlainUtf8);
            if (latin1() != nullptr) {
                offered.push_back(XCB_ATOM_STRING);
            }
        }
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(offered.size()), offered.data());
        return true;
    }
    if (target == atoms_.timestamp) {
        const xcb_timestamp_t time = owned_->time;
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &time);
        return true;
    }
    if (!owned_->text) {
        return false;
    }
    if (target == atoms_.utf8String || target == atoms_.textPlainUtf8) {
        Transfer transfer{.text = *owned_->text, .data = owned_->text->bytes()};
        send(requestor, property, target, std::move(transfer));
        return true;
    }
    if (target == XCB_ATOM_STRING) {
        if (latin1() == nullptr) {
            return false;
        }
        Transfer transfer{.latin1 = owned_->latin1, .data = *owned_->latin1};
        send(requestor, property, target, std::move(transfer));
        return true;
    }
    return false;
}

void SelectionWorker::Impl::send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type,
                                 Transfer transfer) {
    if (transfer.data.size() <= chunk_) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, type, 8,
                            static_cast<std::uint32_t>(transfer.data.size()), transfer.data.data());
        return;
    }
    // Too large for one request: the requestor takes it chunk by chunk,
    // deleting the property for each next one.
    const auto same = [&](const Transfer& t) {
        return t.requestor == requestor && t.property == property;
    };
    std::erase_if(transfers_, same);
    const bool watched = std::any_of(transfers_.begin(), transfers_.end(),
                                     [&](const Transfer& t) { return t.requestor == requestor; });
    if (!watched) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &mask);
    }
    const auto lowerBound = static_cast<std::uint32_t>(
        std::min<std::size_t>(transfer.data.size(), std::numeric_limits<std::uint32_t>::max()));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, atoms_.incr, 32, 1,
                        &lowerBound);
    transfer.requestor = requestor;
    transfer.property = property;
    transfer.type = type;
    transfer.deadline = Clock::now() + limits_.serveTimeout;
    transfers_.push_back(std::move(transfer));
}

void SelectionWorker::Impl::continueTransfer(xcb_window_t requestor, xcb_atom_t property) {
    const auto it = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
        return t.requestor == requestor && t.property == property;
    });
    if (it == transfers_.end()) {
        return;
    }
    const std::size_t size = std::min(chunk_, it->data.size() - it->offset);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, it->type, 8,
                        static_cast<std::uint32_t>(size), it->data.data() + it->offset);
    it->offset += size;
    it->deadline = Clock::now() + limits_.serveTimeout;
    if (size == 0) {
        endTransfer(it);  // the empty chunk was the end
    }
}

void SelectionWorker::Impl::endTransfer(std::vector<Transfer>::iterator transfer) {
    const xcb_window_t requestor = transfer->requestor;
    transfers_.erase(transfer);
    const bool watched = std::any_of(transfers_.begin(), transfers_.end(),
                                     [&](const Transfer& t) { return t.requestor == requestor; });
    if (!watched) {
        const std::uint32_t mask = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &mask);
    }
}

void SelectionWorker::Impl::expire(Clock::time_point now) {
    if (fetch_ && (now >= fetch_->stepDeadline || now >= fetch_->deadline)) {
        // The owner is slow, hung or gone: no text this time. The next
        // change of owner is read afresh.
        finishFetch(std::nullopt);
    }
    while (!retired_.empty() && now >= retired_.front().until) {
        xcb_destroy_window(c_, retired_.front().window);
        retired_.pop_front();
    }
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        if (now >= it->deadline) {
            endTransfer(it);
            it = transfers_.begin();
        } else {
            ++it;
        }
    }
}

int SelectionWorker::Impl::pollTimeout(Clock::time_point now) const {
    NextDeadline next;
    if (fetch_) {
        next.consider(fetch_->stepDeadline);
        next.consider(fetch_->deadline);
    }
    for (const Transfer& transfer : transfers_) {
        next.consider(transfer.deadline);
    }
    if (!retired_.empty()) {
        next.consider(retired_.front().until);
    }
    return next.pollTimeout(now);
}

SelectionWorker::SelectionWorker(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<SelectionWorker> SelectionWorker::start(const char* displayName, Deliver deliver,
                                                        SelectionLimits limits) {
    int screenNumber = 0;
    Connection connection(xcb_connect(displayName, &screenNumber));
    xcb_connection_t* const c = connection.get();
    if (xcb_connection_has_error(c) != 0) {
        return nullptr;
    }
    // Owner changes are only visible through XFixes.
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (xfixes == nullptr || xfixes->present == 0) {
        return nullptr;
    }
    const Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    if (!version || version->major_version < 1) {
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return nullptr;
    }
    const xcb_window_t root = screens.data->root;
    const std::optional<Atoms> atoms = internAtoms(c);
    if (!atoms) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(std::move(connection), root, *atoms, xfixes->first_event,
                                       std::move(deliver), limits);
    if (impl->mailbox.fd() < 0) {
        return nullptr;
    }
    try {
        impl->thread = std::thread([worker = impl.get()] { worker->run(); });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<SelectionWorker>(new SelectionWorker(std::move(impl)));
}

SelectionWorker::~SelectionWorker() {
    impl_->stop();
    impl_->thread.join();
}

void SelectionWorker::write(std::optional<Text> text, std::uint64_t generation) {
    impl_->post(std::move(text), generation);
}

bool SelectionWorker::connected() const {
    return impl_->connected;
}

}  // namespace brimlet::platform::x11
