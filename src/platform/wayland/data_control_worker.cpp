#include "platform/wayland/data_control_worker.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wayland/data_control_protocol.h"
#include "platform/wayland/own_source.h"
#include "platform/wayland/pipes.h"
#include "platform/worker/latin1.h"

namespace brimlet::platform::wayland {
namespace {

// Password managers offer this type beside the text; whatever its value,
// the text is a secret.
constexpr std::string_view kPasswordHint = "x-kde-passwordManagerHint";

}  // namespace

OfferedText offeredText(const std::vector<std::string>& types, std::string_view marker) {
    const auto offers = [&](std::string_view type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    if (offers(marker)) {
        return {OfferedText::Kind::Ours, {}};
    }
    if (offers(kPasswordHint)) {
        return {OfferedText::Kind::Password, {}};
    }
    const auto type = std::find_if(kTextTypes.begin(), kTextTypes.end(), offers);
    if (type == kTextTypes.end()) {
        return {OfferedText::Kind::NoText, {}};
    }
    return {OfferedText::Kind::Text, *type};
}

class DataControlWorker::Impl {
  public:
    Impl(WorkerThread& worker, Display display, const Protocol& protocol, wl_proxy* seat,
         wl_proxy* manager, Deliver deliver, TransferLimits limits)
        : thread(worker),
          display_(std::move(display)),
          d_(display_.get()),
          protocol_(protocol),
          seat_(seat),
          manager_(manager),
          deliver_(std::move(deliver)),
          limits_(limits) {
        source_.emplace(protocol_, manager_, limits_);
        device_ = wl_proxy_marshal_flags(manager_, kGetDataDevice, protocol_.device,
                                         wl_proxy_get_version(manager_), 0, nullptr, seat_);
        listen(device_, kDeviceListener, this);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    ~Impl() {
        fetch_.reset();
        for (const auto& offer : offers_) {
            destroyProxy(offer.first, kOfferDestroy);
        }
        source_.reset();
        if (device_ != nullptr) {
            destroyProxy(device_, kDeviceDestroy);
        }
        destroyProxy(manager_, kManagerDestroy);
        wl_proxy_destroy(seat_);
        wl_display_flush(d_);
        display_.reset();
    }

    void run();

    // Shared with the GUI thread.
    WorkerThread& thread;

  private:
    using Write = WorkerMailbox::Write;

    static const DeviceListener kDeviceListener;
    static const OfferListener kOfferListener;

    void dataOffer(wl_proxy* offer) {
        offers_[offer];
        listen(offer, kOfferListener, this);
    }
    void offerType(wl_proxy* offer, const char* mimeType) { offers_[offer].emplace_back(mimeType); }
    void selection(wl_proxy* offer);
    void primarySelection(wl_proxy* offer) {
        // Brimlet keeps the clipboard only; the primary offer is dropped
        // when the next one replaces it.
        replaceOffer(primaryOffer_, offer);
    }
    void finished() {
        // The seat went away: nothing more will come from this device.
        destroyProxy(device_, kDeviceDestroy);
        device_ = nullptr;
        thread.connected = false;
    }
    void replaceOffer(wl_proxy*& slot, wl_proxy* offer) {
        if (slot != nullptr && slot != offer) {
            destroyProxy(slot, kOfferDestroy);
            offers_.erase(slot);
        }
        slot = offer;
    }

    void acceptWrite(Write write);
    // Puts our own source with `text` (or none) on the clipboard.
    void own(std::optional<Text> text);
    void finishFetch(std::optional<Text> text);
    void readFetch();
    void expire(Clock::time_point now);
    [[nodiscard]] int pollTimeout(Clock::time_point now) const;

    void deliver(std::optional<Text> text) {
        deliver_(SelectionSnapshot{generation_, std::move(text)});
    }

    Display display_;
    wl_display* d_;
    const Protocol& protocol_;
    wl_proxy* seat_;
    wl_proxy* manager_;
    wl_proxy* device_ = nullptr;
    Deliver deliver_;
    TransferLimits limits_;

    // The worker thread's own.
    std::uint64_t generation_ = 0;
    std::map<wl_proxy*, std::vector<std::string>> offers_;
    wl_proxy* selectionOffer_ = nullptr;
    wl_proxy* primaryOffer_ = nullptr;
    std::optional<OwnSource> source_;
    // Reading the current selection's text, in ISO 8859-1 or else UTF-8.
    std::optional<PipeReading> fetch_;
    bool fetchLatin1_ = false;
    // The text of the current selection's owner, as read.
    std::optional<Text> lastRead_;
};

const DeviceListener DataControlWorker::Impl::kDeviceListener{
    [](void* data, wl_proxy* /*device*/, wl_proxy* offer) {
        static_cast<Impl*>(data)->dataOffer(offer);
    },
    [](void* data, wl_proxy* /*device*/, wl_proxy* offer) {
        static_cast<Impl*>(data)->selection(offer);
    },
    [](void* data, wl_proxy* /*device*/) { static_cast<Impl*>(data)->finished(); },
    [](void* data, wl_proxy* /*device*/, wl_proxy* offer) {
        static_cast<Impl*>(data)->primarySelection(offer);
    },
};

const OfferListener DataControlWorker::Impl::kOfferListener{
    [](void* data, wl_proxy* offer, const char* mimeType) {
        static_cast<Impl*>(data)->offerType(offer, mimeType);
    },
};

void DataControlWorker::Impl::selection(wl_proxy* offer) {
    replaceOffer(selectionOffer_, offer);
    if (fetch_) {
        // Superseded before it could be read: a change without readable text.
        finishFetch(std::nullopt);
    }
    if (offer == nullptr) {
        // The program that owned the clipboard went away or emptied it. A
        // text of its that we read stays on the clipboard, served by us, as
        // it would under a clipboard manager on X11.
        if (std::optional<Text> kept = std::exchange(lastRead_, std::nullopt)) {
            own(std::move(kept));
        } else {
            deliver(std::nullopt);
        }
        return;
    }
    lastRead_.reset();
    const OfferedText offered = offeredText(offers_[offer], source_->marker());
    switch (offered.kind) {
        case OfferedText::Kind::Ours:
            return;                        // counted when we wrote it
        case OfferedText::Kind::Password:  // never enters the history
        case OfferedText::Kind::NoText:
            deliver(std::nullopt);
            return;
        case OfferedText::Kind::Text:
            break;
    }
    std::array<int, 2> pipe{};
    // Only our end may be non-blocking: the owner writes to a blocking pipe,
    // as every program expects of a receive descriptor, or it stops at the
    // first full pipe and we would keep a cut text.
    if (::pipe2(pipe.data(), O_CLOEXEC) != 0) {
        deliver(std::nullopt);
        return;
    }
    ::fcntl(pipe[0], F_SETFL, ::fcntl(pipe[0], F_GETFL) | O_NONBLOCK);
    const std::string mimeType(offered.type);
    // libwayland sends a duplicate of the descriptor; ours closes at once so
    // that the end of the owner's writing shows as the end of the pipe.
    wl_proxy_marshal_flags(offer, kOfferReceive, nullptr, wl_proxy_get_version(offer), 0,
                           mimeType.c_str(), pipe[1]);
    ::close(pipe[1]);
    fetch_.emplace(pipe[0], limits_);
    fetchLatin1_ = offered.type == kLatin1String;
}

void DataControlWorker::Impl::readFetch() {
    switch (fetch_->read()) {
        case PipeReading::Status::More:
            return;
        case PipeReading::Status::Failed:
            finishFetch(std::nullopt);  // larger than we take, or broken
            return;
        case PipeReading::Status::Done: {
            std::string bytes = fetch_->take();
            lastRead_ = fetchLatin1_ ? Text(latin1ToUtf8(bytes)) : Text(std::move(bytes));
            finishFetch(lastRead_);
            return;
        }
    }
}

void DataControlWorker::Impl::finishFetch(std::optional<Text> text) {
    fetch_.reset();
    deliver(std::move(text));
}

void DataControlWorker::Impl::acceptWrite(Write write) {
    // Whatever was being read is about to be replaced by our own contents.
    generation_ = write.generation;
    fetch_.reset();
    lastRead_.reset();
    own(std::move(write.text));
}

void DataControlWorker::Impl::own(std::optional<Text> text) {
    if (device_ != nullptr) {
        source_->own(device_, std::move(text));
    }
}

void DataControlWorker::Impl::expire(Clock::time_point now) {
    if (fetch_ && fetch_->expired(now)) {
        // The owner is slow, hung or gone: no text this time.
        finishFetch(std::nullopt);
    }
    source_->expire(now);
}

int DataControlWorker::Impl::pollTimeout(Clock::time_point now) const {
    NextDeadline next;
    if (fetch_) {
        fetch_->considerDeadlines(next);
    }
    source_->considerDeadlines(next);
    return next.pollTimeout(now);
}

void DataControlWorker::Impl::run() {
    // A reader that closes its end early must not end the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    const timespec noWait{};

    while (true) {
        std::optional<Write> write;
        if (!thread.mailbox.take(write)) {
            return;
        }
        if (write) {
            acceptWrite(std::move(*write));
        }
        expire(Clock::now());

        while (wl_display_prepare_read(d_) != 0) {
            wl_display_dispatch_pending(d_);
        }
        const bool flushed = wl_display_flush(d_) >= 0;
        if (!flushed && errno != EAGAIN) {
            wl_display_cancel_read(d_);
            thread.connected = false;
            return;
        }
        if (flushed) {
            // Our selection is on its way to the compositor, ahead of any
            // key a paste sends afterwards.
            thread.settled = generation_;
        }

        std::vector<pollfd> fds{
            {wl_display_get_fd(d_), static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0},
            {thread.mailbox.fd(), POLLIN, 0}};
        if (fetch_) {
            fds.push_back({fetch_->fd(), POLLIN, 0});
        }
        source_->appendPollFds(fds);
        const int ready = ::poll(fds.data(), fds.size(), pollTimeout(Clock::now()));
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            wl_display_read_events(d_);
        } else {
            wl_display_cancel_read(d_);
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            thread.mailbox.drain();
        }
        // Pipes first, with the descriptors poll saw; events may replace them.
        std::size_t index = 2;
        if (fetch_ && (fds[index++].revents != 0)) {
            readFetch();
        }
        std::vector<int> writable;
        for (; index < fds.size(); ++index) {
            if (fds[index].revents != 0) {
                writable.push_back(fds[index].fd);
            }
        }
        source_->writable(writable);
        wl_display_dispatch_pending(d_);
        if (wl_display_get_error(d_) != 0) {
            thread.connected = false;
            return;
        }
        // Writing to a reader that left raised SIGPIPE; it is blocked, so
        // take it off the queue.
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
        }
    }
}

std::unique_ptr<DataControlWorker> DataControlWorker::start(const char* displayName,
                                                            Deliver deliver,
                                                            TransferLimits limits) {
    Display display(wl_display_connect(displayName));
    if (!display) {
        return nullptr;
    }
    const std::vector<Global> all = globals(display.get());
    const auto chosen = chooseProtocol(all);
    const Global* seat = findGlobal(all, "wl_seat");
    if (!chosen || seat == nullptr) {
        return nullptr;
    }
    const auto [protocol, managerGlobal] = *chosen;
    wl_registry* registry = wl_display_get_registry(display.get());
    auto* seatProxy =
        static_cast<wl_proxy*>(wl_registry_bind(registry, seat->name, &wl_seat_interface, 1));
    auto* manager = static_cast<wl_proxy*>(
        wl_registry_bind(registry, managerGlobal->name, protocol->manager,
                         std::min(protocol->maxVersion, managerGlobal->version)));
    wl_registry_destroy(registry);

    std::unique_ptr<DataControlWorker> worker(new DataControlWorker());
    worker->impl_ = std::make_unique<Impl>(worker->thread(), std::move(display), *protocol,
                                           seatProxy, manager, std::move(deliver), limits);
    if (!worker->thread().start([impl = worker->impl_.get()] { impl->run(); })) {
        return nullptr;
    }
    return worker;
}

DataControlWorker::~DataControlWorker() {
    thread().stop();
}

std::optional<std::string> probeDataControl(const char* displayName) {
    const Display display(wl_display_connect(displayName));
    if (!display) {
        return std::nullopt;
    }
    const auto chosen = chooseProtocol(globals(display.get()));
    if (!chosen) {
        return std::nullopt;
    }
    return std::string(chosen->first->name);
}

}  // namespace brimlet::platform::wayland
