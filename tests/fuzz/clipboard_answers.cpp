// What other programs' clipboards answer, taken apart as the readers do:
// an X11 TARGETS list, the chunks of an incremental transfer and the text
// they make, and the MIME types of a Wayland offer.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/wayland/data_control_worker.h"
#include "platform/wayland/own_source.h"
#include "platform/worker/latin1.h"
#include "platform/x11/selection_reader.h"

namespace {

namespace x11 = brimlet::platform::x11;
namespace wl = brimlet::platform::wayland;

void require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

x11::PropertyValue property(FuzzedDataProvider& input, std::size_t maxBytes) {
    return {input.ConsumeIntegralInRange<xcb_atom_t>(0, 40),
            input.PickValueInArray<std::uint8_t>({8, 16, 32}),
            input.ConsumeRandomLengthString(maxBytes)};
}

void x11Answers(FuzzedDataProvider& input) {
    // Small numbers, so that they meet ATOM (4) and STRING (31) now and then.
    x11::Atoms atoms;
    for (xcb_atom_t* atom : {&atoms.targets, &atoms.utf8String, &atoms.textPlainUtf8}) {
        *atom = input.ConsumeIntegralInRange<xcb_atom_t>(1, 40);
    }
    const x11::PropertyValue list = property(input, 256);
    const auto targets = x11::listedTargets(list, atoms);
    require(targets.has_value() ==
            (list.format == 32 && (list.type == XCB_ATOM_ATOM || list.type == atoms.targets)));
    require(!targets || (targets->size() == list.bytes.size() / 4 &&
                         std::string_view(reinterpret_cast<const char*>(targets->data()),
                                          targets->size() * 4) ==
                             std::string_view(list.bytes).substr(0, targets->size() * 4)));

    x11::PropertyValue whole;
    const std::size_t max = input.ConsumeIntegralInRange<std::size_t>(0, 2048);
    for (int i = input.ConsumeIntegralInRange(0, 8); i > 0; --i) {
        const x11::PropertyValue chunk = property(input, 512);
        const std::string before = whole.bytes;
        const bool added = x11::addChunk(whole, chunk, max);
        require(added == (before.size() + chunk.bytes.size() <= max) &&
                whole.bytes == (added ? before + chunk.bytes : before));
    }
    const xcb_atom_t target = input.PickValueInArray(
        {xcb_atom_t{XCB_ATOM_STRING}, atoms.utf8String, atoms.textPlainUtf8});
    const auto text = x11::answeredText(whole, target, atoms);
    const bool utf8Type = whole.type == atoms.utf8String || whole.type == atoms.textPlainUtf8;
    require(text.has_value() ==
            (whole.format == 8 &&
             (target == XCB_ATOM_STRING ? whole.type == XCB_ATOM_STRING : utf8Type)));
    if (text && target == XCB_ATOM_STRING) {
        require(brimlet::platform::utf8ToLatin1(text->bytes()) == whole.bytes);
    } else if (text) {
        require(text->bytes() == whole.bytes);
    }
}

void waylandOffer(FuzzedDataProvider& input) {
    const std::string marker = input.ConsumeRandomLengthString(16);
    std::vector<std::string> types;
    while (input.remaining_bytes() > 0 && types.size() < 8) {
        types.push_back(input.ConsumeRandomLengthString(32));
    }
    const auto listed = [&](std::string_view type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    const wl::OfferedText offered = wl::offeredText(types, marker);
    using Kind = wl::OfferedText::Kind;
    const auto text = std::find_if(wl::kTextTypes.begin(), wl::kTextTypes.end(), listed);
    const Kind expected = listed(marker)                        ? Kind::Ours
                          : listed("x-kde-passwordManagerHint") ? Kind::Password
                          : text != wl::kTextTypes.end()        ? Kind::Text
                                                                : Kind::NoText;
    require(offered.kind == expected && (expected != Kind::Text || offered.type == *text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        x11Answers(input);
    } else {
        waylandOffer(input);
    }
    return 0;
}
