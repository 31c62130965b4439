#include "platform/wayland/own_source.h"

#include <unistd.h>

#include <algorithm>
#include <random>

namespace brimlet::platform::wayland {
namespace {

std::string ownMarker() {
    std::random_device random;
    return "application/x-brimlet-source-" + std::to_string(random()) + std::to_string(random());
}

}  // namespace

const SourceListener OwnSource::kListener{
    [](void* data, wl_proxy* source, const char* mimeType, std::int32_t fd) {
        static_cast<OwnSource*>(data)->send(source, mimeType, fd);
    },
    [](void* data, wl_proxy* source) { static_cast<OwnSource*>(data)->cancelled(source); },
};

OwnSource::OwnSource(const Protocol& protocol, wl_proxy* manager, const TransferLimits& limits)
    : protocol_(protocol), manager_(manager), marker_(ownMarker()), writers_(limits) {}

OwnSource::~OwnSource() {
    if (source_ != nullptr) {
        destroyProxy(source_, kSourceDestroy);
    }
}

void OwnSource::own(wl_proxy* device, std::optional<Text> text, std::uint32_t request) {
    wl_proxy* source = wl_proxy_marshal_flags(manager_, kCreateDataSource, protocol_.source,
                                              wl_proxy_get_version(manager_), 0, nullptr);
    listen(source, kListener, this);
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
    wl_proxy_marshal_flags(device, request, nullptr, wl_proxy_get_version(device), 0, source);
    // Readers of the source we replace keep their transfers.
    if (source_ != nullptr) {
        destroyProxy(source_, kSourceDestroy);
    }
    source_ = source;
}

void OwnSource::send(wl_proxy* source, std::string_view mimeType, int fd) {
    const bool text = std::find(kTextTypes.begin(), kTextTypes.end(), mimeType) != kTextTypes.end();
    std::optional<Payload> payload;
    if (source == source_ && owned_ && text) {
        payload = owned_->payload(mimeType == kLatin1String);
    }
    if (!payload) {
        ::close(fd);  // nothing of ours in that type: the reader sees an empty answer
        return;
    }
    writers_.add(fd, std::move(*payload));
}

void OwnSource::cancelled(wl_proxy* source) {
    // Another program's selection replaced ours.
    if (source == source_) {
        destroyProxy(source_, kSourceDestroy);
        source_ = nullptr;
        owned_.reset();
    }
}

}  // namespace brimlet::platform::wayland
