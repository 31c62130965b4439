#include "platform/x11/selection_worker.h"

#include <poll.h>
#include <xcb/xfixes.h>

#include <array>
#include <utility>
#include <vector>

#include "platform/x11/clipboard_manager.h"
#include "platform/x11/selection_reader.h"
#include "platform/x11/selection_server.h"
#include "platform/x11/xcb_support.h"

namespace brimlet::platform::x11 {

// The worker thread's loop: it hears of every change of the CLIPBOARD's
// owner through XFixes, has the reader read it, has the server serve our own
// writes, and, as the clipboard manager, keeps the text of a program that
// quits.
class SelectionWorker::Impl {
  public:
    Impl(WorkerThread& worker, Connection connection, xcb_window_t root, const Atoms& atoms,
         std::uint8_t xfixesEvent, Deliver deliver, const SelectionLimits& limits)
        : thread(worker),
          connection_(std::move(connection)),
          c_(connection_.get()),
          atoms_(atoms),
          xfixesEvent_(xfixesEvent),
          deliver_(std::move(deliver)),
          window_(makeWindow(c_, root)),
          reader_(c_, root, atoms, limits,
                  [this](std::optional<Text> text) { read(std::move(text)); }),
          server_(c_, window_, atoms, limits),
          manager_(c_, window_, atoms) {
        // CLIPBOARD_MANAGER too: when another manager goes, we take it back.
        for (const xcb_atom_t selection : {atoms_.clipboard, atoms_.clipboardManager}) {
            xcb_xfixes_select_selection_input(
                c_, window_, selection,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
        xcb_flush(c_);
    }

    void run();

    // Shared with the GUI thread.
    WorkerThread& thread;

  private:
    using Write = WorkerMailbox::Write;

    void handle(const xcb_generic_event_t& event);
    void ownerChanged(const xcb_xfixes_selection_notify_event_t& event);
    void propertyNotify(const xcb_property_notify_event_t& event);
    void selectionRequest(const xcb_selection_request_event_t& event);
    void selectionClear(const xcb_selection_clear_event_t& event);
    void read(std::optional<Text> text);

    void acceptWrite(Write write);
    void probeAnswered(xcb_timestamp_t time);

    // Serves `text` as the clipboard's after its owner went; false when
    // someone else took the clipboard first.
    bool keep(Text text, xcb_timestamp_t time);

    void deliver(std::optional<Text> text) {
        deliveredSinceWrite_ = true;
        deliver_(SelectionSnapshot{generation_, std::move(text)});
    }
    [[nodiscard]] xcb_window_t currentOwner() const { return selectionOwner(c_, atoms_.clipboard); }

    // Closing the connection, last, destroys our windows and gives up the
    // clipboard.
    Connection connection_;
    xcb_connection_t* c_;
    Atoms atoms_;
    std::uint8_t xfixesEvent_;
    Deliver deliver_;
    xcb_window_t window_;

    std::uint64_t generation_ = 0;
    bool deliveredSinceWrite_ = false;
    // Our write waits for a server timestamp to take the clipboard with.
    std::optional<Write> pending_;
    bool probing_ = false;
    // The text read from the clipboard's current owner, which we keep as
    // the clipboard manager when it quits.
    std::optional<Text> lastRead_;
    SelectionReader reader_;
    SelectionServer server_;
    ClipboardManagerRole manager_;
};

void SelectionWorker::Impl::run() {
    manager_.claim();
    const xcb_window_t owner = currentOwner();
    if (owner != XCB_NONE && owner != window_) {
        reader_.begin(XCB_CURRENT_TIME);
    }
    while (true) {
        std::optional<Write> write;
        if (!thread.mailbox.take(write)) {
            return;
        }
        if (write) {
            acceptWrite(std::move(*write));
        }
        const Clock::time_point now = Clock::now();
        reader_.expire(now);
        server_.expire(now);

        if (!handleEvents(c_, [this](const xcb_generic_event_t& event) { handle(event); })) {
            thread.connected = false;
            return;
        }

        NextDeadline next;
        reader_.considerDeadlines(next);
        server_.considerDeadlines(next);
        std::array<pollfd, 2> fds{
            {{xcb_get_file_descriptor(c_), POLLIN, 0}, {thread.mailbox.fd(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), next.pollTimeout(Clock::now())) > 0 &&
            (fds[1].revents & POLLIN) != 0) {
            thread.mailbox.drain();
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
            reader_.selectionNotify(reinterpret_cast<const xcb_selection_notify_event_t&>(event));
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
    if (event.selection == atoms_.clipboardManager) {
        if (event.owner == XCB_NONE) {
            manager_.claim();
        }
        return;
    }
    if (event.selection != atoms_.clipboard || event.owner == window_) {
        // Our own ownership was counted on the GUI thread when it wrote.
        return;
    }
    if (server_.owns()) {
        // An older owner's event can arrive after we took the clipboard back.
        if (currentOwner() == window_) {
            return;
        }
        server_.disown();
    }
    // Superseded before it could be read: a change without readable text.
    reader_.supersede();
    if (event.owner == XCB_NONE) {
        // The owner quit or gave the clipboard up. As the clipboard manager
        // we keep the text we read from it; otherwise nothing is on it now.
        std::optional<Text> kept = std::exchange(lastRead_, std::nullopt);
        if (!(manager_.held() && kept && keep(std::move(*kept), event.timestamp))) {
            deliver(std::nullopt);
        }
        return;
    }
    lastRead_.reset();
    reader_.begin(event.timestamp);
}

void SelectionWorker::Impl::read(std::optional<Text> text) {
    lastRead_ = text;
    manager_.readingEnded();
    deliver(std::move(text));
}

void SelectionWorker::Impl::propertyNotify(const xcb_property_notify_event_t& event) {
    if (reader_.propertyNotify(event)) {
        return;
    }
    if (event.window == window_) {
        if (event.atom == atoms_.timeProbe && event.state == XCB_PROPERTY_NEW_VALUE && probing_) {
            probeAnswered(event.time);
        }
        return;
    }
    if (event.state == XCB_PROPERTY_DELETE) {
        server_.propertyDeleted(event);
    }
}

void SelectionWorker::Impl::selectionRequest(const xcb_selection_request_event_t& event) {
    if (event.selection == atoms_.clipboardManager) {
        manager_.request(event, reader_.reading());
    } else {
        server_.request(event);
    }
}

void SelectionWorker::Impl::selectionClear(const xcb_selection_clear_event_t& event) {
    if (event.selection == atoms_.clipboardManager) {
        manager_.cleared(event);
    } else {
        server_.cleared(event);
    }
}

void SelectionWorker::Impl::acceptWrite(Write write) {
    lastRead_.reset();
    // Whatever was being read is about to be replaced by our own contents.
    generation_ = write.generation;
    deliveredSinceWrite_ = false;
    reader_.abandon();
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
    thread.settled = write.generation;
    if (owner == window_) {
        server_.own(std::move(write.text), time);
        if (reader_.reading() || deliveredSinceWrite_) {
            // Another program's copy came and went while we took over; what
            // the GUI thread holds must end as what the clipboard holds.
            reader_.abandon();
            deliver(server_.text());
        }
        return;
    }
    // Another program took the clipboard after us: report what it holds.
    server_.disown();
    if (!reader_.reading()) {
        if (owner == XCB_NONE) {
            deliver(std::nullopt);
        } else {
            reader_.begin(XCB_CURRENT_TIME);
        }
    }
}

bool SelectionWorker::Impl::keep(Text text, xcb_timestamp_t time) {
    xcb_set_selection_owner(c_, window_, atoms_.clipboard, time);
    if (currentOwner() != window_) {
        return false;
    }
    server_.own(std::move(text), time);
    return true;
}

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
    const std::optional<Atoms> atoms = internAtoms(c);
    if (screens.rem == 0 || !atoms) {
        return nullptr;
    }
    std::unique_ptr<SelectionWorker> worker(new SelectionWorker());
    worker->impl_ =
        std::make_unique<Impl>(worker->thread(), std::move(connection), screens.data->root, *atoms,
                               xfixes->first_event, std::move(deliver), limits);
    if (!worker->thread().start([impl = worker->impl_.get()] { impl->run(); })) {
        return nullptr;
    }
    return worker;
}

SelectionWorker::~SelectionWorker() {
    thread().stop();
}

}  // namespace brimlet::platform::x11
