#include "platform/x11/x11_paster.h"

#include <QtGui/qguiapplication_platform.h>
#include <poll.h>
#include <xcb/xtest.h>

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <array>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/worker/clipboard_worker.h"
#include "platform/x11/selection_server.h"
#include "platform/x11/xcb_support.h"

namespace brimlet::platform::x11 {
namespace {

using namespace std::chrono_literals;

// How long the remembered window has to hold the focus again, counted from
// the pick; and how often the thread looks meanwhile.
constexpr auto kFocusTimeout = 300ms;
constexpr auto kFocusPoll = 3ms;
// How much longer the CLIPBOARD may take to be ours, and the user to let go
// of Shift, once the focus is back.
constexpr auto kSettleTimeout = 1000ms;
// How long opening the panel waits to learn where the focus is.
constexpr auto kRememberTimeout = 100ms;

constexpr xcb_keysym_t kShiftL = 0xffe1;
constexpr xcb_keysym_t kShiftR = 0xffe2;
constexpr xcb_keysym_t kInsert = 0xff63;
constexpr xcb_window_t kPointerRoot = 1;
// _NET_ACTIVE_WINDOW's source indication of a pager, which window managers
// obey without their focus-stealing rules.
constexpr std::uint32_t kSourcePager = 2;

struct OurWindows {
    std::vector<xcb_window_t> all;
    // Qt's popups grab the keyboard while they are mapped.
    std::vector<xcb_window_t> popups;
};

OurWindows ourWindows() {
    OurWindows out;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() == nullptr) {
            continue;
        }
        const auto id = static_cast<xcb_window_t>(window->winId());
        out.all.push_back(id);
        if (window->type() == Qt::Popup) {
            out.popups.push_back(id);
        }
    }
    return out;
}

bool contains(const std::vector<xcb_window_t>& windows, xcb_window_t window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

Connection connectWithXTest(const char* displayName, int* screen) {
    Connection connection(xcb_connect(displayName, screen));
    if (xcb_connection_has_error(connection.get()) != 0) {
        return nullptr;
    }
    const xcb_query_extension_reply_t* xtest =
        xcb_get_extension_data(connection.get(), &xcb_test_id);
    return xtest != nullptr && xtest->present != 0 ? std::move(connection) : nullptr;
}

}  // namespace

class X11Paster::Impl {
  public:
    struct Job {
        Text text;
        xcb_window_t target = XCB_NONE;
        OurWindows ours;
        std::function<bool()> clipboardReady;
    };

    Impl(Connection connection, xcb_window_t root, const Atoms& atoms)
        : connection_(std::move(connection)),
          c_(connection_.get()),
          root_(root),
          atoms_(atoms),
          window_(makeWindow(c_, root)),
          primary_(c_, window_, atoms_, TransferLimits{}) {
        activeWindow_ = intern("_NET_ACTIVE_WINDOW");
        wmCheck_ = intern("_NET_SUPPORTING_WM_CHECK");
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() { thread.stop(); }

    void run();

    // From the GUI thread.
    std::future<xcb_window_t> askFocus() {
        std::promise<xcb_window_t> promise;
        std::future<xcb_window_t> answer = promise.get_future();
        {
            const std::lock_guard lock(mutex_);
            focusAsked_.push_back(std::move(promise));
        }
        thread.mailbox.post({});
        return answer;
    }
    void post(Job job) {
        {
            const std::lock_guard lock(mutex_);
            incoming_ = std::move(job);
        }
        thread.mailbox.post({});
    }

    WorkerThread thread;

  private:
    xcb_atom_t intern(std::string_view name) {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr));
        return reply ? reply->atom : XCB_NONE;
    }
    [[nodiscard]] xcb_window_t windowProperty(xcb_window_t window, xcb_atom_t property) {
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, window, property, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
            return XCB_NONE;
        }
        return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    }
    [[nodiscard]] bool windowManagerRuns() {
        const xcb_window_t check = windowProperty(root_, wmCheck_);
        return check != XCB_NONE && windowProperty(check, wmCheck_) == check;
    }
    [[nodiscard]] xcb_window_t focusedWindow();
    [[nodiscard]] xcb_window_t parentOf(xcb_window_t window);

    void handle(const xcb_generic_event_t& event);
    void begin(Job job);
    void primaryTaken(xcb_timestamp_t time);
    void step(Clock::time_point now);
    void activate(xcb_window_t target);
    [[nodiscard]] bool focusIsIn(xcb_window_t target, const std::vector<xcb_window_t>& ours);
    [[nodiscard]] bool modifiersHeld();
    void sendShiftInsert();

    Connection connection_;
    xcb_connection_t* c_;
    xcb_window_t root_;
    Atoms atoms_;
    xcb_atom_t activeWindow_ = XCB_NONE;
    xcb_atom_t wmCheck_ = XCB_NONE;
    xcb_window_t window_;
    SelectionServer primary_;

    std::mutex mutex_;
    std::vector<std::promise<xcb_window_t>> focusAsked_;
    std::optional<Job> incoming_;

    std::optional<Job> job_;
    Clock::time_point deadline_{};
    bool probing_ = false;
    bool activated_ = false;
    bool focusBack_ = false;
};

void X11Paster::Impl::run() {
    xcb_flush(c_);
    while (true) {
        std::optional<WorkerMailbox::Write> wake;
        if (!thread.mailbox.take(wake)) {
            return;
        }
        std::vector<std::promise<xcb_window_t>> asked;
        std::optional<Job> job;
        {
            const std::lock_guard lock(mutex_);
            asked.swap(focusAsked_);
            job = std::exchange(incoming_, std::nullopt);
        }
        for (auto& promise : asked) {
            promise.set_value(focusedWindow());
        }
        if (job) {
            begin(std::move(*job));
        }
        primary_.expire(Clock::now());
        if (!handleEvents(c_, [this](const xcb_generic_event_t& event) { handle(event); })) {
            thread.connected = false;
            return;
        }
        step(Clock::now());
        xcb_flush(c_);

        NextDeadline next;
        primary_.considerDeadlines(next);
        if (job_) {
            next.consider(probing_ ? deadline_ : Clock::now() + kFocusPoll);
        }
        std::array<pollfd, 2> fds{
            {{xcb_get_file_descriptor(c_), POLLIN, 0}, {thread.mailbox.fd(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), next.pollTimeout(Clock::now())) > 0 &&
            (fds[1].revents & POLLIN) != 0) {
            thread.mailbox.drain();
        }
    }
}

xcb_window_t X11Paster::Impl::focusedWindow() {
    // A window manager names the application window it made active (none
    // when it keeps the focus itself); the input focus may be on its frame
    // or a child.
    if (windowManagerRuns()) {
        return windowProperty(root_, activeWindow_);
    }
    const Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    if (!focus || focus->focus == XCB_NONE || focus->focus == kPointerRoot ||
        focus->focus == root_) {
        return XCB_NONE;
    }
    return focus->focus;
}

xcb_window_t X11Paster::Impl::parentOf(xcb_window_t window) {
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr));
    return tree ? tree->parent : XCB_NONE;
}

void X11Paster::Impl::handle(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
        case XCB_SELECTION_REQUEST:
            primary_.request(reinterpret_cast<const xcb_selection_request_event_t&>(event));
            break;
        case XCB_SELECTION_CLEAR:
            primary_.cleared(reinterpret_cast<const xcb_selection_clear_event_t&>(event));
            break;
        case XCB_PROPERTY_NOTIFY: {
            const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (notify.window == window_ && notify.atom == atoms_.timeProbe &&
                notify.state == XCB_PROPERTY_NEW_VALUE && probing_) {
                primaryTaken(notify.time);
            } else if (notify.state == XCB_PROPERTY_DELETE) {
                primary_.propertyDeleted(notify);
            }
            break;
        }
        default:
            break;
    }
}

void X11Paster::Impl::begin(Job job) {
    // A later pick replaces one still waiting for the focus.
    job_ = std::move(job);
    deadline_ = Clock::now() + kFocusTimeout;
    activated_ = false;
    focusBack_ = false;
    if (!probing_) {
        // Taking a selection wants a server time: appending nothing to a
        // property of our window yields one.
        probing_ = true;
        xcb_change_property(c_, XCB_PROP_MODE_APPEND, window_, atoms_.timeProbe, XCB_ATOM_INTEGER,
                            32, 0, nullptr);
    }
}

void X11Paster::Impl::primaryTaken(xcb_timestamp_t time) {
    probing_ = false;
    if (!job_) {
        return;
    }
    xcb_set_selection_owner(c_, window_, XCB_ATOM_PRIMARY, time);
    primary_.own(job_->text, time);
}

void X11Paster::Impl::step(Clock::time_point now) {
    if (!job_) {
        return;
    }
    if (now >= deadline_) {
        job_.reset();  // the focus did not come back in time: no keys
        return;
    }
    if (probing_) {
        return;
    }
    const Job& job = *job_;
    // One round trip: whether the window is still there, and whether our
    // popups have let go of the keyboard.
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    cookies.push_back(xcb_get_window_attributes(c_, job.target));
    for (const xcb_window_t popup : job.ours.popups) {
        cookies.push_back(xcb_get_window_attributes(c_, popup));
    }
    bool gone = false;
    bool grabbing = false;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c_, cookies[i], nullptr));
        if (i == 0) {
            gone = !attributes;
        } else if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
            grabbing = true;
        }
    }
    if (gone) {
        job_.reset();
        return;
    }
    if (grabbing) {
        return;
    }
    if (!activated_) {
        activated_ = true;
        activate(job.target);
    }
    if (!focusIsIn(job.target, job.ours.all)) {
        return;
    }
    if (!focusBack_) {
        // A busy machine may take longer to hand the CLIPBOARD to our
        // thread than the window took to get the focus back.
        focusBack_ = true;
        deadline_ = std::max(deadline_, now + kSettleTimeout);
    }
    if ((job.clipboardReady && !job.clipboardReady()) || modifiersHeld()) {
        return;
    }
    sendShiftInsert();
    job_.reset();
}

bool X11Paster::Impl::modifiersHeld() {
    // The Shift of Shift+Return may still be down, and let go between our
    // keys; Ctrl or Alt would make them another shortcut.
    constexpr std::uint16_t kHeld = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
                                    XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
    const Reply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr));
    return !pointer || (pointer->mask & kHeld) != 0;
}

void X11Paster::Impl::activate(xcb_window_t target) {
    if (windowManagerRuns()) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = target;
        message.type = activeWindow_;
        message.data.data32[0] = kSourcePager;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    } else {
        xcb_set_input_focus(c_, XCB_INPUT_FOCUS_PARENT, target, XCB_CURRENT_TIME);
    }
    xcb_flush(c_);
}

bool X11Paster::Impl::focusIsIn(xcb_window_t target, const std::vector<xcb_window_t>& ours) {
    const Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    if (!focus) {
        return false;
    }
    // Up from the focus: the target before any window of ours. Our tray
    // icon may sit inside another program's window.
    for (xcb_window_t window = focus->focus;
         window != XCB_NONE && window != kPointerRoot && window != root_;
         window = parentOf(window)) {
        if (contains(ours, window)) {
            return false;
        }
        if (window == target) {
            return true;
        }
    }
    return false;
}

void X11Paster::Impl::sendShiftInsert() {
    // The keycodes of the keymap in use now, found by their first keysym.
    const xcb_setup_t* setup = xcb_get_setup(c_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr));
    if (!mapping || mapping->keysyms_per_keycode == 0) {
        return;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const auto keycodeOf = [&](xcb_keysym_t wanted) -> xcb_keycode_t {
        for (int i = 0; i < count; ++i) {
            if (keysyms[static_cast<std::size_t>(i) * mapping->keysyms_per_keycode] == wanted) {
                return static_cast<xcb_keycode_t>(setup->min_keycode + i);
            }
        }
        return 0;
    };
    xcb_keycode_t shift = keycodeOf(kShiftL);
    if (shift == 0) {
        shift = keycodeOf(kShiftR);
    }
    const xcb_keycode_t insert = keycodeOf(kInsert);
    if (shift == 0 || insert == 0) {
        return;
    }
    constexpr std::uint8_t kPress = XCB_KEY_PRESS;
    constexpr std::uint8_t kRelease = XCB_KEY_RELEASE;
    for (const auto& [type, key] : {std::pair{kPress, shift}, std::pair{kPress, insert},
                                    std::pair{kRelease, insert}, std::pair{kRelease, shift}}) {
        xcb_test_fake_input(c_, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    xcb_flush(c_);
}

std::unique_ptr<X11Paster> X11Paster::open(const char* displayName) {
    int screenNumber = 0;
    Connection connection = connectWithXTest(displayName, &screenNumber);
    if (!connection) {
        return nullptr;
    }
    xcb_connection_t* const c = connection.get();
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    std::optional<Atoms> atoms = internAtoms(c);
    if (screens.rem == 0 || !atoms) {
        return nullptr;
    }
    // The server of our text, here for PRIMARY.
    atoms->clipboard = XCB_ATOM_PRIMARY;
    std::unique_ptr<X11Paster> paster(new X11Paster());
    paster->impl_ = std::make_unique<Impl>(std::move(connection), screens.data->root, *atoms);
    if (!paster->impl_->thread.start([impl = paster->impl_.get()] { impl->run(); })) {
        return nullptr;
    }
    return paster;
}

bool X11Paster::offered(const char* displayName) {
    int screen = 0;
    return connectWithXTest(displayName, &screen) != nullptr;
}

X11Paster::~X11Paster() = default;

void X11Paster::remember() {
    remembered_ = XCB_NONE;
    if (!impl_->thread.connected) {
        return;
    }
    std::future<xcb_window_t> found = impl_->askFocus();
    if (found.wait_for(kRememberTimeout) != std::future_status::ready) {
        return;
    }
    const xcb_window_t window = found.get();
    if (!contains(ourWindows().all, window)) {
        remembered_ = window;
    }
}

void X11Paster::pasteInto(const Text& text, std::function<bool()> clipboardReady) {
    const xcb_window_t target = std::exchange(remembered_, XCB_NONE);
    if (target == XCB_NONE) {
        return;
    }
    // Qt sends the closing panel's unmap when its loop next flushes: now.
    if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_flush(x11->connection());
    }
    impl_->post({.text = text,
                 .target = target,
                 .ours = ourWindows(),
                 .clipboardReady = std::move(clipboardReady)});
}

}  // namespace brimlet::platform::x11
