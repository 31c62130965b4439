// The glue both data-control protocols share: they have the same requests
// and events in the same order, and only their interfaces differ, so one
// code path drives either.
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brimlet::platform::wayland {

struct Protocol {
    std::string_view global;
    const char* name;
    std::uint32_t maxVersion;
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
};

constexpr std::uint32_t kCreateDataSource = 0;
constexpr std::uint32_t kGetDataDevice = 1;
constexpr std::uint32_t kManagerDestroy = 2;
constexpr std::uint32_t kSetSelection = 0;
constexpr std::uint32_t kDeviceDestroy = 1;
constexpr std::uint32_t kSetPrimarySelection = 2;
constexpr std::uint32_t kSourceOffer = 0;
constexpr std::uint32_t kSourceDestroy = 1;
constexpr std::uint32_t kOfferReceive = 0;
constexpr std::uint32_t kOfferDestroy = 1;

// The event listeners of both protocols, with the objects left untyped.
struct DeviceListener {
    void (*dataOffer)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*selection)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*finished)(void* data, wl_proxy* device);
    void (*primarySelection)(void* data, wl_proxy* device, wl_proxy* offer);
};
struct SourceListener {
    void (*send)(void* data, wl_proxy* source, const char* mimeType, std::int32_t fd);
    void (*cancelled)(void* data, wl_proxy* source);
};
struct OfferListener {
    void (*offer)(void* data, wl_proxy* offer, const char* mimeType);
};

template <typename Listener>
void listen(wl_proxy* proxy, const Listener& listener, void* data) {
    // libwayland takes a listener as an array of function pointers.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast)
    wl_proxy_add_listener(proxy, reinterpret_cast<void (**)()>(const_cast<Listener*>(&listener)),
                          data);
}

inline void destroyProxy(wl_proxy* proxy, std::uint32_t opcode) {
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy),
                           WL_MARSHAL_FLAG_DESTROY);
}

struct Global {
    std::uint32_t name = 0;
    std::string interface;
    std::uint32_t version = 0;
};

// The compositor's globals, after one round trip.
[[nodiscard]] std::vector<Global> globals(wl_display* display);
[[nodiscard]] const Global* findGlobal(const std::vector<Global>& all, std::string_view interface);
// The newest data-control protocol the compositor offers, and its global.
[[nodiscard]] std::optional<std::pair<const Protocol*, const Global*>> chooseProtocol(
    const std::vector<Global>& all);

struct DisconnectDisplay {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
using Display = std::unique_ptr<wl_display, DisconnectDisplay>;

}  // namespace brimlet::platform::wayland
