// A scripted Wayland clipboard owner for the data-control adapter's tests.
// It takes the clipboard through data-control (no window or focus needed),
// prints "ready" once the compositor has its selection, and then plays one
// part until it is killed:
//   wl_owner silent           offers text and never writes nor closes
//   wl_owner hint TEXT VALUE  offers TEXT with the password hint VALUE
//   wl_owner large N          offers N bytes a..z a..z ..., each read served
//                             with a single write(), as many programs do
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

struct State {
    std::string mode;
    std::string text;
    std::string hint;
    std::vector<int> held;  // descriptors a silent owner never closes
    wl_proxy* seat = nullptr;
    wl_proxy* manager = nullptr;
    const wl_interface* device = nullptr;
    const wl_interface* source = nullptr;
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t /*version*/) {
    auto* state = static_cast<State*>(data);
    const std::string_view which(interface);
    if (which == "wl_seat" && state->seat == nullptr) {
        state->seat =
            static_cast<wl_proxy*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (which == "ext_data_control_manager_v1") {
        state->manager = static_cast<wl_proxy*>(
            wl_registry_bind(registry, name, &ext_data_control_manager_v1_interface, 1));
        state->device = &ext_data_control_device_v1_interface;
        state->source = &ext_data_control_source_v1_interface;
    } else if (which == "zwlr_data_control_manager_v1" && state->manager == nullptr) {
        state->manager = static_cast<wl_proxy*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
        state->device = &zwlr_data_control_device_v1_interface;
        state->source = &zwlr_data_control_source_v1_interface;
    }
}
void globalRemove(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}
const wl_registry_listener kRegistry{global, globalRemove};

void send(void* data, wl_proxy* /*source*/, const char* mimeType, std::int32_t fd) {
    auto* state = static_cast<State*>(data);
    if (state->mode == "silent") {
        state->held.push_back(fd);
        return;
    }
    const std::string& what =
        std::string_view(mimeType) == "x-kde-passwordManagerHint" ? state->hint : state->text;
    [[maybe_unused]] const ssize_t written = write(fd, what.data(), what.size());
    close(fd);
}
void cancelled(void* /*data*/, wl_proxy* /*source*/) {
    std::_Exit(0);
}
struct SourceListener {
    void (*send)(void*, wl_proxy*, const char*, std::int32_t);
    void (*cancelled)(void*, wl_proxy*);
};
const SourceListener kSource{send, cancelled};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: wl_owner silent | hint TEXT VALUE | large N\n", stderr);
        return 2;
    }
    State state;
    state.mode = argv[1];
    state.text = argc > 2 ? argv[2] : "unread";
    if (state.mode == "large") {
        state.text.resize(std::stoul(state.text));
        for (std::size_t i = 0; i < state.text.size(); ++i) {
            state.text[i] = static_cast<char>('a' + i % 26);
        }
    }
    state.hint = argc > 3 ? argv[3] : "secret";
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fputs("wl_owner: no compositor\n", stderr);
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &state);
    wl_display_roundtrip(display);
    if (state.seat == nullptr || state.manager == nullptr) {
        std::fputs("wl_owner: the compositor offers no data-control\n", stderr);
        return 1;
    }
    auto* device =
        wl_proxy_marshal_flags(state.manager, 1, state.device, 1, 0, nullptr, state.seat);
    auto* source = wl_proxy_marshal_flags(state.manager, 0, state.source, 1, 0, nullptr);
    wl_proxy_add_listener(
        source, reinterpret_cast<void (**)()>(const_cast<SourceListener*>(&kSource)), &state);
    for (const char* type :
         {"text/plain;charset=utf-8", "text/plain", "x-kde-passwordManagerHint"}) {
        if (state.mode != "hint" && std::strcmp(type, "x-kde-passwordManagerHint") == 0) {
            continue;
        }
        wl_proxy_marshal_flags(source, 0, nullptr, 1, 0, type);
    }
    wl_proxy_marshal_flags(device, 0, nullptr, 1, 0, source);
    wl_display_roundtrip(display);
    std::puts("ready");
    std::fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
