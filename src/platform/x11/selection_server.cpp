#include "platform/x11/selection_server.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace brimlet::platform::x11 {
namespace {

constexpr std::size_t kMaxChunk = std::size_t{1} << 20;

}  // namespace

SelectionServer::SelectionServer(xcb_connection_t* c, xcb_window_t window, const Atoms& atoms,
                                 const TransferLimits& limits)
    : c_(c), window_(window), atoms_(atoms), limits_(limits) {
    // Leave room for the request header below the server's limit.
    const std::size_t maxRequest = std::size_t{xcb_get_maximum_request_length(c_)} * 4;
    chunk_ = std::min(kMaxChunk, maxRequest > 1024 ? maxRequest - 1024 : maxRequest / 2);
}

void SelectionServer::own(std::optional<Text> text, xcb_timestamp_t time) {
    owned_.emplace(Owned{.served = OwnedText(std::move(text)), .time = time});
}

void SelectionServer::request(const xcb_selection_request_event_t& event) {
    // Obsolete requestors name no property: the target doubles as one.
    const xcb_atom_t property = event.property == XCB_NONE ? event.target : event.property;
    const bool served = owned_ && event.owner == window_ && event.selection == atoms_.clipboard &&
                        (event.time == XCB_CURRENT_TIME || !earlier(event.time, owned_->time)) &&
                        answer(event.requestor, property, event.target);
    notifyRequestor(c_, event, served ? property : XCB_NONE);
}

void SelectionServer::cleared(const xcb_selection_clear_event_t& event) {
    // A clear from before we took the clipboard back is stale.
    if (event.selection == atoms_.clipboard && event.owner == window_ && owned_ &&
        !earlier(event.time, owned_->time)) {
        owned_.reset();
    }
}

bool SelectionServer::answer(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target) {
    OwnedText& served = owned_->served;
    if (target == atoms_.targets) {
        std::vector<xcb_atom_t> offered{atoms_.targets, atoms_.timestamp};
        if (served.text()) {
            offered.push_back(atoms_.utf8String);
            offered.push_back(atoms_.textPlainUtf8);
            if (served.hasLatin1()) {
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
    const bool utf8 = target == atoms_.utf8String || target == atoms_.textPlainUtf8;
    if (!utf8 && target != XCB_ATOM_STRING) {
        return false;
    }
    std::optional<Payload> payload = served.payload(!utf8);
    if (!payload) {
        return false;
    }
    send(requestor, property, target, std::move(*payload));
    return true;
}

void SelectionServer::send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type,
                           Payload payload) {
    if (payload.data.size() <= chunk_) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, type, 8,
                            static_cast<std::uint32_t>(payload.data.size()), payload.data.data());
        return;
    }
    // Too large for one request: the requestor takes it chunk by chunk,
    // deleting the property for each next one.
    std::erase_if(transfers_, [&](const Transfer& t) {
        return t.requestor == requestor && t.property == property;
    });
    watch(requestor, true);
    const auto lowerBound = static_cast<std::uint32_t>(
        std::min<std::size_t>(payload.data.size(), std::numeric_limits<std::uint32_t>::max()));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, atoms_.incr, 32, 1,
                        &lowerBound);
    transfers_.push_back(Transfer{.requestor = requestor,
                                  .property = property,
                                  .type = type,
                                  .payload = std::move(payload),
                                  .deadline = Clock::now() + limits_.serveTimeout});
}

void SelectionServer::propertyDeleted(const xcb_property_notify_event_t& event) {
    const auto it = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
        return t.requestor == event.window && t.property == event.atom;
    });
    if (it == transfers_.end()) {
        return;
    }
    const std::string_view data = it->payload.data;
    const std::size_t size = std::min(chunk_, data.size() - it->offset);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, it->requestor, it->property, it->type, 8,
                        static_cast<std::uint32_t>(size), data.data() + it->offset);
    it->offset += size;
    it->deadline = Clock::now() + limits_.serveTimeout;
    if (size == 0) {
        endTransfer(it);  // the empty chunk was the end
    }
}

void SelectionServer::endTransfer(std::vector<Transfer>::iterator transfer) {
    const xcb_window_t requestor = transfer->requestor;
    transfers_.erase(transfer);
    watch(requestor, false);
}

// Hears of a requestor's property deletions while any transfer to it runs.
void SelectionServer::watch(xcb_window_t requestor, bool on) {
    const bool watched = std::any_of(transfers_.begin(), transfers_.end(),
                                     [&](const Transfer& t) { return t.requestor == requestor; });
    if (!watched) {
        const std::uint32_t mask = on ? XCB_EVENT_MASK_PROPERTY_CHANGE : XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &mask);
    }
}

void SelectionServer::expire(Clock::time_point now) {
    // A reader that stopped taking pieces is dropped.
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        if (now >= it->deadline) {
            endTransfer(it);
            it = transfers_.begin();
        } else {
            ++it;
        }
    }
}

void SelectionServer::considerDeadlines(NextDeadline& next) const {
    for (const Transfer& transfer : transfers_) {
        next.consider(transfer.deadline);
    }
}

}  // namespace brimlet::platform::x11
