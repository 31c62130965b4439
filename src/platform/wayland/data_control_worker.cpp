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
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wayland/data_control_protocol.h"
#include "platform/worker/latin1.h"

namespace brimlet::platform::wayland {
namespace {

using Clock = std::chrono::steady_clock;

// Text types in the order we prefer them; STRING is ISO 8859-1.
constexpr std::string_view kUtf8Plain = "text/plain;charset=utf-8";
constexpr std::string_view kUtf8String = "UTF8_STRING";
constexpr std::string_view kPlain = "text/plain";
constexpr std::string_view kLatin1String = "STRING";
constexpr std::array<std::string_view, 4> kTextTypes{kUtf8Plain, kUtf8String, kPlain,
                                                     kLatin1String};
// Password managers offer this type beside the text; whatever its value,
// the text is a secret.
constexpr std::string_view kPasswordHint = "x-kde-passwordManagerHint";

std::string ownMarker() {
    // Offered beside our own text, so that we know our selection when the
    // compositor tells us about it.
    std::random_device random;
    return "application/x-brimlet-source-" + std::to_string(random()) + std::to_string(random());
}

}  // namespace

class DataControlWorker::Impl {
  public:
    Impl(Display display, const Protocol& protocol, wl_proxy* seat, wl_proxy* manager,
         Deliver deliver, TransferLimits limits)
        : display_(std::move(display)),
          d_(display_.get()),
          protocol_(protocol),
          protocolName_(protocol.name),
          seat_(seat),
          manager_(manager),
          deliver_(std::move(deliver)),
          limits_(limits),
          marker_(ownMarker()) {
        device_ = wl_proxy_marshal_flags(manager_, kGetDataDevice, protocol_.device,
                                         wl_proxy_get_version(manager_), 0, nullptr, seat_);
        listen(device_, kDeviceListener, this);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    ~Impl() {
        dropFetch();
        for (Transfer& transfer : transfers_) {
            ::close(transfer.fd);
        }
        for (const auto& offer : offers_) {
            destroyProxy(offer.first, kOfferDestroy);
        }
        if (source_ != nullptr) {
            destroyProxy(source_, kSourceDestroy);
        }
        if (device_ != nullptr) {
            destroyProxy(device_, kDeviceDestroy);
        }
        destroyProxy(manager_, kManagerDestroy);
        wl_proxy_destroy(seat_);
        wl_display_flush(d_);
        display_.reset();
    }

    void run();

    [[nodiscard]] const std::string& protocolName() const { return protocolName_; }

    // Shared with the GUI thread.
    WorkerThread thread;

  private:
    using Write = WorkerMailbox::Write;

    // Reading the current selection through a pipe.
    struct Fetch {
        int fd = -1;
        bool latin1 = false;
        std::string bytes;
        Clock::time_point stepDeadline;
        Clock::time_point deadline;
    };

    // Writing our text to one reader.
    struct Transfer {
        int fd = -1;
        Payload payload;
        std::size_t offset = 0;
        Clock::time_point deadline{};
    };

    static const DeviceListener kDeviceListener;
    static const SourceListener kSourceListener;
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
    void send(wl_proxy* source, std::string_view mimeType, int fd);
    void cancelled(wl_proxy* source) {
        if (source == source_) {
            destroyProxy(source_, kSourceDestroy);
            source_ = nullptr;
            owned_.reset();
        }
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
    void dropFetch();
    void readFetch();
    void writeTransfer(std::vector<Transfer>::iterator transfer);
    void expire(Clock::time_point now);
    [[nodiscard]] int pollTimeout(Clock::time_point now) const;

    void deliver(std::optional<Text> text) {
        deliver_(SelectionSnapshot{generation_, std::move(text)});
    }

    Display display_;
    wl_display* d_;
    const Protocol& protocol_;
    std::string protocolName_;
    wl_proxy* seat_;
    wl_proxy* manager_;
    wl_proxy* device_ = nullptr;
    Deliver deliver_;
    TransferLimits limits_;
    std::string marker_;

    // The worker thread's own.
    std::uint64_t generation_ = 0;
    std::map<wl_proxy*, std::vector<std::string>> offers_;
    wl_proxy* selectionOffer_ = nullptr;
    wl_proxy* primaryOffer_ = nullptr;
    wl_proxy* source_ = nullptr;
    std::optional<OwnedText> owned_;
    std::optional<Fetch> fetch_;
    // The text of the current selection's owner, as read.
    std::optional<Text> lastRead_;
    std::vector<Transfer> transfers_;
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

const SourceListener DataControlWorker::Impl::kSourceListener{
    [](void* data, wl_proxy* source, const char* mimeType, std::int32_t fd) {
        static_cast<Impl*>(data)->send(source, mimeType, fd);
    },
    [](void* data, wl_proxy* source) { static_cast<Impl*>(data)->cancelled(source); },
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
    const std::vector<std::string>& types = offers_[offer];
    const auto offers = [&](std::string_view type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    if (offers(marker_)) {
        return;  // our own, counted when we wrote it
    }
    if (offers(kPasswordHint)) {
        deliver(std::nullopt);  // a password never enters the history
        return;
    }
    const auto type = std::find_if(kTextTypes.begin(), kTextTypes.end(), offers);
    if (type == kTextTypes.end()) {
        deliver(std::nullopt);
        return;
    }
    std::array<int, 2> pipe{};
    if (::pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        deliver(std::nullopt);
        return;
    }
    const std::string mimeType(*type);
    // libwayland sends a duplicate of the descriptor; ours closes at once so
    // that the end of the owner's writing shows as the end of the pipe.
    wl_proxy_marshal_flags(offer, kOfferReceive, nullptr, wl_proxy_get_version(offer), 0,
                           mimeType.c_str(), pipe[1]);
    ::close(pipe[1]);
    const Clock::time_point now = Clock::now();
    fetch_ = Fetch{.fd = pipe[0],
                   .latin1 = *type == kLatin1String,
                   .bytes = {},
                   .stepDeadline = now + limits_.requestTimeout,
                   .deadline = now + limits_.fetchTimeout};
}

void DataControlWorker::Impl::readFetch() {
    std::array<char, 65536> buffer{};
    while (fetch_) {
        const ssize_t got = ::read(fetch_->fd, buffer.data(), buffer.size());
        if (got > 0) {
            if (fetch_->bytes.size() + static_cast<std::size_t>(got) > limits_.maxTextBytes) {
                finishFetch(std::nullopt);  // larger than we take
                return;
            }
            fetch_->bytes.append(buffer.data(), static_cast<std::size_t>(got));
            fetch_->stepDeadline = Clock::now() + limits_.requestTimeout;
            continue;
        }
        if (got == 0) {
            std::string bytes = std::move(fetch_->bytes);
            const bool latin1 = fetch_->latin1;
            lastRead_ = latin1 ? Text(latin1ToUtf8(bytes)) : Text(std::move(bytes));
            finishFetch(lastRead_);
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            finishFetch(std::nullopt);
        }
        return;
    }
}

void DataControlWorker::Impl::finishFetch(std::optional<Text> text) {
    dropFetch();
    deliver(std::move(text));
}

void DataControlWorker::Impl::dropFetch() {
    if (fetch_) {
        ::close(fetch_->fd);
        fetch_.reset();
    }
}

void DataControlWorker::Impl::acceptWrite(Write write) {
    // Whatever was being read is about to be replaced by our own contents.
    generation_ = write.generation;
    dropFetch();
    lastRead_.reset();
    own(std::move(write.text));
}

void DataControlWorker::Impl::own(std::optional<Text> text) {
    if (device_ == nullptr) {
        return;
    }
    wl_proxy* source = wl_proxy_marshal_flags(manager_, kCreateDataSource, protocol_.source,
                                              wl_proxy_get_version(manager_), 0, nullptr);
    listen(source, kSourceListener, this);
    owned_.emplace(std::move(text));
    const auto offer = [&](std::string_view type) {
        const std::string name(type);
        wl_proxy_marshal_flags(source, kSourceOffer, nullptr, wl_proxy_get_version(source), 0,
                               name.c_str());
    };
    if (owned_->text()) {
        for (const std::string_view type : kTextTypes) {
            if (type != kLatin1String || owned_->hasLatin1()) {
                offer(type);
            }
        }
    }
    offer(marker_);
    wl_proxy_marshal_flags(device_, kSetSelection, nullptr, wl_proxy_get_version(device_), 0,
                           source);
    // Readers of the source we replace keep their transfers.
    if (source_ != nullptr) {
        destroyProxy(source_, kSourceDestroy);
    }
    source_ = source;
}

void DataControlWorker::Impl::send(wl_proxy* source, std::string_view mimeType, int fd) {
    const bool text = std::find(kTextTypes.begin(), kTextTypes.end(), mimeType) != kTextTypes.end();
    std::optional<Payload> payload;
    if (source == source_ && owned_ && text) {
        payload = owned_->payload(mimeType == kLatin1String);
    }
    if (!payload) {
        ::close(fd);  // nothing of ours in that type: the reader sees an empty answer
        return;
    }
    Transfer transfer{.fd = fd, .payload = std::move(*payload)};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    transfer.deadline = Clock::now() + limits_.serveTimeout;
    transfers_.push_back(std::move(transfer));
    writeTransfer(std::prev(transfers_.end()));
}

void DataControlWorker::Impl::writeTransfer(std::vector<Transfer>::iterator transfer) {
    constexpr std::size_t kPiece = 65536;
    while (transfer->offset < transfer->payload.data.size()) {
        const std::size_t size = std::min(kPiece, transfer->payload.data.size() - transfer->offset);
        const ssize_t written =
            ::write(transfer->fd, transfer->payload.data.data() + transfer->offset, size);
        if (written > 0) {
            transfer->offset += static_cast<std::size_t>(written);
            transfer->deadline = Clock::now() + limits_.serveTimeout;
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            return;  // the reader is behind; poll says when it takes more
        }
        break;  // the reader went away
    }
    ::close(transfer->fd);
    transfers_.erase(transfer);
}

void DataControlWorker::Impl::expire(Clock::time_point now) {
    if (fetch_ && (now >= fetch_->stepDeadline || now >= fetch_->deadline)) {
        // The owner is slow, hung or gone: no text this time.
        finishFetch(std::nullopt);
    }
    std::erase_if(transfers_, [now](const Transfer& transfer) {
        if (now < transfer.deadline) {
            return false;
        }
        ::close(transfer.fd);  // a reader that stopped reading
        return true;
    });
}

int DataControlWorker::Impl::pollTimeout(Clock::time_point now) const {
    NextDeadline next;
    if (fetch_) {
        next.consider(fetch_->stepDeadline);
        next.consider(fetch_->deadline);
    }
    for (const Transfer& transfer : transfers_) {
        next.consider(transfer.deadline);
    }
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

        std::vector<pollfd> fds{
            {wl_display_get_fd(d_), static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0},
            {thread.mailbox.fd(), POLLIN, 0}};
        if (fetch_) {
            fds.push_back({fetch_->fd, POLLIN, 0});
        }
        for (const Transfer& transfer : transfers_) {
            fds.push_back({transfer.fd, POLLOUT, 0});
        }
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
        for (const int fd : writable) {
            const auto it = std::find_if(transfers_.begin(), transfers_.end(),
                                         [fd](const Transfer& t) { return t.fd == fd; });
            if (it != transfers_.end()) {
                writeTransfer(it);
            }
        }
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

DataControlWorker::DataControlWorker(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

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

    auto impl = std::make_unique<Impl>(std::move(display), *protocol, seatProxy, manager,
                                       std::move(deliver), limits);
    if (!impl->thread.start([worker = impl.get()] { worker->run(); })) {
        return nullptr;
    }
    return std::unique_ptr<DataControlWorker>(new DataControlWorker(std::move(impl)));
}

DataControlWorker::~DataControlWorker() {
    impl_->thread.stop();
}

void DataControlWorker::write(std::optional<Text> text, std::uint64_t generation) {
    impl_->thread.mailbox.post({std::move(text), generation});
}

bool DataControlWorker::connected() const {
    return impl_->thread.connected;
}

const std::string& DataControlWorker::protocol() const {
    return impl_->protocolName();
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
