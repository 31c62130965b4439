#include "platform/ui/work_area.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace brimlet::platform::ui {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t atom(xcb_connection_t* c, const char* name, std::uint16_t length) {
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, length, name), nullptr));
    return reply ? reply->atom : XCB_NONE;
}

// Qt keeps a scaled screen's top-left corner where the system has it and
// divides the distances from there.
QRect inSystemPixels(QRect screen, qreal scale) {
    return {screen.topLeft(), (QSizeF(screen.size()) * scale).toSize()};
}

int fromSystem(int value, int origin, qreal scale, bool up) {
    const qreal scaled = origin + (value - origin) / scale;
    return static_cast<int>(up ? std::ceil(scaled) : std::floor(scaled));
}

}  // namespace

QPoint fromSystemPixels(QPoint point) {
    for (const QScreen* screen : QGuiApplication::screens()) {
        const qreal scale = screen->devicePixelRatio();
        const QPoint origin = screen->geometry().topLeft();
        if (inSystemPixels(screen->geometry(), scale).contains(point)) {
            return {fromSystem(point.x(), origin.x(), scale, false),
                    fromSystem(point.y(), origin.y(), scale, false)};
        }
    }
    return point;
}

std::optional<QRect> freeArea(QRect logical, qreal scale) {
    const QRect screen = inSystemPixels(logical, scale);
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    xcb_connection_t* c = x11 != nullptr ? x11->connection() : nullptr;
    if (c == nullptr) {
        return std::nullopt;
    }
    const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t partial = atom(c, "_NET_WM_STRUT_PARTIAL", 21);
    const xcb_atom_t strut = atom(c, "_NET_WM_STRUT", 13);
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, root->root), nullptr));
    if (!tree || partial == XCB_NONE) {
        return logical;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());

    // All questions first, then the answers: one round trip, not hundreds.
    struct Asked {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t partial;
        xcb_get_property_cookie_t strut;
    };
    std::vector<Asked> asked;
    asked.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        asked.push_back({xcb_get_window_attributes(c, children[i]),
                         xcb_get_property(c, 0, children[i], partial, XCB_ATOM_CARDINAL, 0, 12),
                         xcb_get_property(c, 0, children[i], strut, XCB_ATOM_CARDINAL, 0, 4)});
    }
    QRect area = screen;
    const int rootWidth = root->width_in_pixels;
    const int rootHeight = root->height_in_pixels;
    for (const Asked& ask : asked) {
        const Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, ask.attributes, nullptr));
        const Reply<xcb_get_property_reply_t> partialReply(
            xcb_get_property_reply(c, ask.partial, nullptr));
        const Reply<xcb_get_property_reply_t> strutReply(
            xcb_get_property_reply(c, ask.strut, nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            continue;
        }
        // left, right, top, bottom, then the start and end of each along
        // its edge; a plain strut spans the whole edge.
        std::vector<long> v(12, 0);
        const auto read = [&](const xcb_get_property_reply_t* reply, int n) {
            if (reply == nullptr || reply->format != 32 ||
                xcb_get_property_value_length(reply) < n * 4) {
                return false;
            }
            const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            std::copy_n(values, n, v.begin());
            return true;
        };
        if (!read(partialReply.get(), 12)) {
            if (!read(strutReply.get(), 4)) {
                continue;
            }
            v[4] = v[8] = 0;
            v[5] = v[7] = rootHeight - 1;
            v[6] = 0;
            v[9] = v[11] = rootWidth - 1;
            v[10] = 0;
        }
        const auto spans = [](long start, long end, int low, int high) {
            return start <= high && end >= low;
        };
        if (v[2] > 0 && spans(v[8], v[9], screen.left(), screen.right())) {
            area.setTop(static_cast<int>(std::max<long>(area.top(), v[2])));
        }
        if (v[3] > 0 && spans(v[10], v[11], screen.left(), screen.right())) {
            area.setBottom(static_cast<int>(std::min<long>(area.bottom(), rootHeight - v[3] - 1)));
        }
        if (v[0] > 0 && spans(v[4], v[5], screen.top(), screen.bottom())) {
            area.setLeft(static_cast<int>(std::max<long>(area.left(), v[0])));
        }
        if (v[1] > 0 && spans(v[6], v[7], screen.top(), screen.bottom())) {
            area.setRight(static_cast<int>(std::min<long>(area.right(), rootWidth - v[1] - 1)));
        }
    }
    if (!area.isValid()) {
        return logical;
    }
    // Rounded inwards: the result stays inside the free part.
    const QPoint origin = logical.topLeft();
    return QRect(QPoint(fromSystem(area.left(), origin.x(), scale, true),
                        fromSystem(area.top(), origin.y(), scale, true)),
                 QPoint(fromSystem(area.right() + 1, origin.x(), scale, false) - 1,
                        fromSystem(area.bottom() + 1, origin.y(), scale, false) - 1));
}

}  // namespace brimlet::platform::ui
