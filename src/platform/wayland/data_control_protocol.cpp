#include "platform/wayland/data_control_protocol.h"

#include <algorithm>
#include <array>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace brimlet::platform::wayland {
namespace {

// The current protocol first.
const std::array<Protocol, 2> kProtocols{{
    {"ext_data_control_manager_v1", "ext-data-control-v1", 1,
     &ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
     &ext_data_control_source_v1_interface},
    {"zwlr_data_control_manager_v1", "wlr-data-control-unstable-v1", 2,
     &zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
     &zwlr_data_control_source_v1_interface},
}};

static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE == kCreateDataSource &&
              ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE == kCreateDataSource &&
              EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE == kGetDataDevice &&
              ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE == kGetDataDevice &&
              EXT_DATA_CONTROL_MANAGER_V1_DESTROY == kManagerDestroy &&
              ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY == kManagerDestroy);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION == kSetSelection &&
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION == kSetSelection &&
              EXT_DATA_CONTROL_DEVICE_V1_DESTROY == kDeviceDestroy &&
              ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY == kDeviceDestroy &&
              EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION == kSetPrimarySelection &&
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION == kSetPrimarySelection);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == kSourceOffer &&
              ZWLR_DATA_CONTROL_SOURCE_V1_OFFER == kSourceOffer &&
              EXT_DATA_CONTROL_SOURCE_V1_DESTROY == kSourceDestroy &&
              ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY == kSourceDestroy);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == kOfferReceive &&
              ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE == kOfferReceive &&
              EXT_DATA_CONTROL_OFFER_V1_DESTROY == kOfferDestroy &&
              ZWLR_DATA_CONTROL_OFFER_V1_DESTROY == kOfferDestroy);

void addGlobal(void* data, wl_registry* /*registry*/, std::uint32_t name, const char* interface,
               std::uint32_t version) {
    static_cast<std::vector<Global>*>(data)->push_back({name, interface, version});
}
void removeGlobal(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}
constexpr wl_registry_listener kRegistryListener{addGlobal, removeGlobal};

}  // namespace

std::vector<Global> globals(wl_display* display) {
    std::vector<Global> found;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &found);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    return found;
}

const Global* findGlobal(const std::vector<Global>& all, std::string_view interface) {
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const Global& g) { return g.interface == interface; });
    return it == all.end() ? nullptr : &*it;
}

std::optional<std::pair<const Protocol*, const Global*>> chooseProtocol(
    const std::vector<Global>& all) {
    for (const Protocol& protocol : kProtocols) {
        if (const Global* global = findGlobal(all, protocol.global)) {
            return std::make_pair(&protocol, global);
        }
    }
    return std::nullopt;
}

}  // namespace brimlet::platform::wayland
