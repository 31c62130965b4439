#include "platform/wayland/virtual_keyboard_paster.h"

#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wayland/data_control_protocol.h"
#include "platform/wayland/own_source.h"
#include "platform/worker/clipboard_worker.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace brimlet::platform::wayland {
namespace {

using namespace std::chrono_literals;

// As on X11: the focus has this long to come back after the pick, and the
// CLIPBOARD this much longer once it has.
constexpr auto kFocusTimeout = 300ms;
constexpr auto kSettleTimeout = 1000ms;
constexpr auto kPoll = 3ms;
constexpr auto kRememberTimeout = 100ms;

// Keys go by their evdev codes; Shift is the keymap's first modifier.
constexpr std::uint32_t kInsert = 110;
constexpr std::uint32_t kShiftMask = 1;
// The keymap the virtual keyboard's keys are read with when the seat tells
// none. The compositor hands it to the focused programs, and may keep it
// for the seat until a real key is pressed, so it is a whole keyboard.
constexpr std::string_view kKeymap = R"keymap(xkb_keymap {
xkb_keycodes { include "evdev+aliases(qwerty)" };
xkb_types { include "complete" };
xkb_compatibility { include "complete" };
xkb_symbols { include "pc+us+inet(evdev)" };
};
)keymap";

constexpr std::string_view kVirtualKeyboard = "zwp_virtual_keyboard_manager_v1";
constexpr std::string_view kToplevels = "zwlr_foreign_toplevel_manager_v1";

// A descriptor the compositor can map, holding the keymap and its NUL.
int defaultKeymap() {
    const int fd = ::memfd_create("brimlet-keymap", MFD_CLOEXEC);
    const std::string text(kKeymap);
    if (fd >= 0 &&
        ::write(fd, text.c_str(), text.size() + 1) != static_cast<ssize_t>(text.size() + 1)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

class VirtualKeyboardPaster::Impl {
  public:
    struct Job {
        Text text;
        std::uint64_t window = 0;
        std::function<bool()> clipboardReady;
    };
    struct DataControl {
        const Protocol* protocol;
        wl_proxy* manager;
    };

    Impl(Display display, wl_seat* seat, zwp_virtual_keyboard_manager_v1* keyboards,
         zwlr_foreign_toplevel_manager_v1* toplevels, std::optional<DataControl> dataControl,
         std::string ownAppId)
        : display_(std::move(display)),
          d_(display_.get()),
          seat_(seat),
          keyboards_(keyboards),
          toplevels_(toplevels),
          ownAppId_(std::move(ownAppId)) {
        // The seat's keymap, which the virtual keyboard then uses too, so
        // that the programs' keymap stays as it was.
        wl_seat_add_listener(seat_, &kSeatListener, this);
        zwlr_foreign_toplevel_manager_v1_add_listener(toplevels_, &kManagerListener, this);
        // The windows there are now, which is active, and the seat's
        // keymap, before any remember(): the handles and the seat's
        // keyboard come first, then their details.
        wl_display_roundtrip(d_);
        wl_display_roundtrip(d_);
        // Made now rather than at the first paste: a seat that had no
        // keyboard gains one, and programs need a moment to take it up.
        makeKeyboard();
        if (dataControl) {
            dataControl_ = dataControl->manager;
            source_.emplace(*dataControl->protocol, dataControl->manager, TransferLimits{});
            device_ = wl_proxy_marshal_flags(
                dataControl->manager, kGetDataDevice, dataControl->protocol->device,
                wl_proxy_get_version(dataControl->manager), 0, nullptr, seat_);
            listen(device_, kDeviceListener, this);
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() {
        thread.stop();
        if (sync_ != nullptr) {
            wl_callback_destroy(sync_);
        }
        for (const auto& window : windows_) {
            zwlr_foreign_toplevel_handle_v1_destroy(window.first);
        }
        source_.reset();
        if (device_ != nullptr) {
            destroyProxy(device_, kDeviceDestroy);
        }
        if (dataControl_ != nullptr) {
            destroyProxy(dataControl_, kManagerDestroy);
        }
        zwlr_foreign_toplevel_manager_v1_destroy(toplevels_);
        if (keyboard_ != nullptr) {
            zwp_virtual_keyboard_v1_destroy(keyboard_);
        }
        if (seatKeyboard_ != nullptr) {
            wl_keyboard_destroy(seatKeyboard_);
        }
        if (seatKeymap_ >= 0) {
            ::close(seatKeymap_);
        }
        zwp_virtual_keyboard_manager_v1_destroy(keyboards_);
        wl_seat_destroy(seat_);
        wl_display_flush(d_);
    }

    void run();

    // From the GUI thread: the window active now, unless it is ours.
    std::future<std::uint64_t> askActive() {
        std::promise<std::uint64_t> promise;
        std::future<std::uint64_t> answer = promise.get_future();
        {
            const std::lock_guard lock(mutex_);
            asked_.push_back(std::move(promise));
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
    struct Window {
        std::uint64_t id = 0;
        std::string appId;
        bool activated = false;
        bool pendingActivated = false;
    };

    static const zwlr_foreign_toplevel_manager_v1_listener kManagerListener;
    static const zwlr_foreign_toplevel_handle_v1_listener kWindowListener;
    static const DeviceListener kDeviceListener;
    static const wl_callback_listener kSyncListener;
    static const wl_keyboard_listener kSeatKeyboardListener;
    static const wl_seat_listener kSeatListener;

    void seatKeymap(std::uint32_t format, int fd, std::uint32_t size) {
        if (seatKeymap_ >= 0) {
            ::close(seatKeymap_);
        }
        seatKeymap_ = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 ? fd : -1;
        seatKeymapSize_ = size;
        if (seatKeymap_ < 0) {
            ::close(fd);
        }
    }
    bool makeKeyboard();

    void dropOffer(wl_proxy* offer) {
        // Only our own primary selection matters here.
        if (offer != nullptr) {
            destroyProxy(offer, kOfferDestroy);
        }
    }
    [[nodiscard]] std::uint64_t active() const;
    [[nodiscard]] Window* window(std::uint64_t id);
    void begin(Job job);
    void step(Clock::time_point now);
    void sendShiftInsert();
    void takeRequests();

    Display display_;
    wl_display* d_;
    wl_seat* seat_;
    zwp_virtual_keyboard_manager_v1* keyboards_;
    // With the seat's keymap if it told one.
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    wl_keyboard* seatKeyboard_ = nullptr;
    int seatKeymap_ = -1;
    std::uint32_t seatKeymapSize_ = 0;
    zwlr_foreign_toplevel_manager_v1* toplevels_;
    wl_proxy* dataControl_ = nullptr;
    wl_proxy* device_ = nullptr;
    std::optional<OwnSource> source_;
    std::string ownAppId_;

    std::map<zwlr_foreign_toplevel_handle_v1*, Window> windows_;
    std::uint64_t nextId_ = 1;

    std::mutex mutex_;
    std::vector<std::promise<std::uint64_t>> asked_;
    std::optional<Job> incoming_;

    std::optional<Job> job_;
    Clock::time_point deadline_{};
    wl_callback* sync_ = nullptr;
    bool focusBack_ = false;
};

const zwlr_foreign_toplevel_manager_v1_listener VirtualKeyboardPaster::Impl::kManagerListener{
    .toplevel =
        [](void* data, zwlr_foreign_toplevel_manager_v1* /*manager*/,
           zwlr_foreign_toplevel_handle_v1* handle) {
            auto* impl = static_cast<Impl*>(data);
            impl->windows_[handle].id = impl->nextId_++;
            zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kWindowListener, impl);
        },
    .finished = [](void* /*data*/, zwlr_foreign_toplevel_manager_v1* /*manager*/) {},
};

const zwlr_foreign_toplevel_handle_v1_listener VirtualKeyboardPaster::Impl::kWindowListener{
    .title = [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    .app_id = [](void* data, zwlr_foreign_toplevel_handle_v1* handle,
                 const char* appId) { static_cast<Impl*>(data)->windows_[handle].appId = appId; },
    .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .state =
        [](void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
            bool activated = false;
            const auto* begin = static_cast<const std::uint32_t*>(states->data);
            const std::size_t count = states->size / sizeof(std::uint32_t);
            for (std::size_t i = 0; i < count; ++i) {
                activated =
                    activated || begin[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            }
            static_cast<Impl*>(data)->windows_[handle].pendingActivated = activated;
        },
    .done =
        [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
            Window& window = static_cast<Impl*>(data)->windows_[handle];
            window.activated = window.pendingActivated;
        },
    .closed =
        [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
            static_cast<Impl*>(data)->windows_.erase(handle);
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
        },
    .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

const DeviceListener VirtualKeyboardPaster::Impl::kDeviceListener{
    [](void* /*data*/, wl_proxy* /*device*/, wl_proxy* /*offer*/) {},
    [](void* data, wl_proxy* /*device*/, wl_proxy* offer) {
        static_cast<Impl*>(data)->dropOffer(offer);
    },
    [](void* data, wl_proxy* /*device*/) {
        auto* impl = static_cast<Impl*>(data);
        destroyProxy(impl->device_, kDeviceDestroy);
        impl->device_ = nullptr;
    },
    [](void* data, wl_proxy* /*device*/, wl_proxy* offer) {
        static_cast<Impl*>(data)->dropOffer(offer);
    },
};

const wl_callback_listener VirtualKeyboardPaster::Impl::kSyncListener{
    .done =
        [](void* data, wl_callback* callback, std::uint32_t /*serial*/) {
            auto* impl = static_cast<Impl*>(data);
            wl_callback_destroy(callback);
            impl->sync_ = nullptr;
        },
};

const wl_seat_listener VirtualKeyboardPaster::Impl::kSeatListener{
    .capabilities =
        [](void* data, wl_seat* seat, std::uint32_t capabilities) {
            auto* impl = static_cast<Impl*>(data);
            // Asking a seat without a keyboard for one is an error.
            if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0 &&
                impl->seatKeyboard_ == nullptr) {
                impl->seatKeyboard_ = wl_seat_get_keyboard(seat);
                wl_keyboard_add_listener(impl->seatKeyboard_, &kSeatKeyboardListener, impl);
            }
        },
    .name = [](void*, wl_seat*, const char*) {},
};

const wl_keyboard_listener VirtualKeyboardPaster::Impl::kSeatKeyboardListener{
    .keymap = [](void* data, wl_keyboard* /*keyboard*/, std::uint32_t format, std::int32_t fd,
                 std::uint32_t size) { static_cast<Impl*>(data)->seatKeymap(format, fd, size); },
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t) {},
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

bool VirtualKeyboardPaster::Impl::makeKeyboard() {
    if (keyboard_ != nullptr) {
        return true;
    }
    const int fd = seatKeymap_ >= 0 ? ::dup(seatKeymap_) : defaultKeymap();
    const std::uint32_t size =
        seatKeymap_ >= 0 ? seatKeymapSize_ : static_cast<std::uint32_t>(kKeymap.size() + 1);
    if (fd < 0) {
        return false;
    }
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards_, seat_);
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
    ::close(fd);
    return true;
}

std::uint64_t VirtualKeyboardPaster::Impl::active() const {
    for (const auto& [handle, window] : windows_) {
        if (window.activated) {
            return equalIgnoringCase(window.appId, ownAppId_) ? 0 : window.id;
        }
    }
    return 0;
}

VirtualKeyboardPaster::Impl::Window* VirtualKeyboardPaster::Impl::window(std::uint64_t id) {
    const auto it = std::find_if(windows_.begin(), windows_.end(),
                                 [&](const auto& entry) { return entry.second.id == id; });
    return it == windows_.end() ? nullptr : &it->second;
}

void VirtualKeyboardPaster::Impl::takeRequests() {
    std::vector<std::promise<std::uint64_t>> asked;
    std::optional<Job> job;
    {
        const std::lock_guard lock(mutex_);
        asked.swap(asked_);
        job = std::exchange(incoming_, std::nullopt);
    }
    for (auto& promise : asked) {
        promise.set_value(active());
    }
    if (job) {
        begin(std::move(*job));
    }
}

void VirtualKeyboardPaster::Impl::begin(Job job) {
    const auto it = std::find_if(windows_.begin(), windows_.end(),
                                 [&](const auto& entry) { return entry.second.id == job.window; });
    if (it == windows_.end() || !makeKeyboard()) {
        job_.reset();  // the window has gone: no keys
        return;
    }
    if (device_ != nullptr) {
        source_->own(device_, job.text, kSetPrimarySelection);
    }
    zwlr_foreign_toplevel_handle_v1_activate(it->first, seat_);
    // Once the compositor answers this, it has handled the activation.
    if (sync_ != nullptr) {
        wl_callback_destroy(sync_);
    }
    sync_ = wl_display_sync(d_);
    wl_callback_add_listener(sync_, &kSyncListener, this);
    job_ = std::move(job);
    deadline_ = Clock::now() + kFocusTimeout;
    focusBack_ = false;
}

void VirtualKeyboardPaster::Impl::step(Clock::time_point now) {
    if (!job_) {
        return;
    }
    const Window* target = window(job_->window);
    if (target == nullptr || now >= deadline_) {
        job_.reset();  // gone, or not active again in time: no keys
        return;
    }
    if (sync_ != nullptr || !target->activated) {
        return;
    }
    if (!focusBack_) {
        focusBack_ = true;
        deadline_ = std::max(deadline_, now + kSettleTimeout);
    }
    if (job_->clipboardReady && !job_->clipboardReady()) {
        return;
    }
    sendShiftInsert();
    job_.reset();
}

void VirtualKeyboardPaster::Impl::sendShiftInsert() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto time = static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, kShiftMask, 0, 0, 0);
    zwp_virtual_keyboard_v1_key(keyboard_, time, kInsert, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(keyboard_, time, kInsert, WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
}

void VirtualKeyboardPaster::Impl::run() {
    // A reader of our PRIMARY that closes its end early must not end the
    // process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    const timespec noWait{};

    while (true) {
        std::optional<WorkerMailbox::Write> wake;
        if (!thread.mailbox.take(wake)) {
            return;
        }
        takeRequests();
        step(Clock::now());
        if (source_) {
            source_->expire(Clock::now());
        }
        while (wl_display_prepare_read(d_) != 0) {
            wl_display_dispatch_pending(d_);
        }
        const bool flushed = wl_display_flush(d_) >= 0;
        if (!flushed && errno != EAGAIN) {
            wl_display_cancel_read(d_);
            thread.connected = false;
            return;
        }
        std::vector<pollfd> fds{
            {wl_display_get_fd(d_), static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0},
            {thread.mailbox.fd(), POLLIN, 0}};
        NextDeadline next;
        if (source_) {
            source_->appendPollFds(fds);
            source_->considerDeadlines(next);
        }
        if (job_) {
            next.consider(Clock::now() + kPoll);
        }
        const int ready = ::poll(fds.data(), fds.size(), next.pollTimeout(Clock::now()));
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            wl_display_read_events(d_);
        } else {
            wl_display_cancel_read(d_);
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            thread.mailbox.drain();
        }
        std::vector<int> writable;
        for (std::size_t index = 2; index < fds.size(); ++index) {
            if (fds[index].revents != 0) {
                writable.push_back(fds[index].fd);
            }
        }
        if (source_) {
            source_->writable(writable);
        }
        wl_display_dispatch_pending(d_);
        if (wl_display_get_error(d_) != 0) {
            thread.connected = false;
            return;
        }
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
        }
    }
}

std::unique_ptr<VirtualKeyboardPaster> VirtualKeyboardPaster::open(const char* displayName,
                                                                   std::string ownAppId) {
    Display display(wl_display_connect(displayName));
    if (!display) {
        return nullptr;
    }
    const std::vector<Global> all = globals(display.get());
    const Global* seat = findGlobal(all, "wl_seat");
    const Global* keyboards = findGlobal(all, kVirtualKeyboard);
    const Global* toplevels = findGlobal(all, kToplevels);
    if (seat == nullptr || keyboards == nullptr || toplevels == nullptr) {
        return nullptr;
    }
    wl_registry* registry = wl_display_get_registry(display.get());
    auto* seatProxy =
        static_cast<wl_seat*>(wl_registry_bind(registry, seat->name, &wl_seat_interface, 1));
    auto* keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, keyboards->name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    auto* toplevelManager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, toplevels->name, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min<std::uint32_t>(toplevels->version, 3)));
    std::optional<Impl::DataControl> dataControl;
    if (const auto chosen = chooseProtocol(all)) {
        const auto [protocol, global] = *chosen;
        const std::uint32_t version = std::min(protocol->maxVersion, global->version);
        // The wlroots protocol has the primary selection from version 2 on.
        if (std::string_view(protocol->global).starts_with("ext_") || version >= 2) {
            dataControl = Impl::DataControl{
                protocol, static_cast<wl_proxy*>(wl_registry_bind(registry, global->name,
                                                                  protocol->manager, version))};
        }
    }
    wl_registry_destroy(registry);

    std::unique_ptr<VirtualKeyboardPaster> paster(new VirtualKeyboardPaster());
    paster->impl_ = std::make_unique<Impl>(std::move(display), seatProxy, keyboardManager,
                                           toplevelManager, dataControl, std::move(ownAppId));
    if (!paster->impl_->thread.start([impl = paster->impl_.get()] { impl->run(); })) {
        return nullptr;
    }
    return paster;
}

bool VirtualKeyboardPaster::offered(const char* displayName) {
    const Display display(wl_display_connect(displayName));
    if (!display) {
        return false;
    }
    const std::vector<Global> all = globals(display.get());
    return findGlobal(all, kVirtualKeyboard) != nullptr && findGlobal(all, kToplevels) != nullptr;
}

VirtualKeyboardPaster::~VirtualKeyboardPaster() = default;

void VirtualKeyboardPaster::remember() {
    remembered_ = 0;
    if (!impl_->thread.connected) {
        return;
    }
    std::future<std::uint64_t> found = impl_->askActive();
    if (found.wait_for(kRememberTimeout) == std::future_status::ready) {
        remembered_ = found.get();
    }
}

void VirtualKeyboardPaster::pasteInto(const Text& text, std::function<bool()> clipboardReady) {
    const std::uint64_t window = std::exchange(remembered_, 0);
    if (window != 0) {
        impl_->post({.text = text, .window = window, .clipboardReady = std::move(clipboardReady)});
    }
}

}  // namespace brimlet::platform::wayland
