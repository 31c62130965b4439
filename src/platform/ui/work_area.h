// The part of a screen that X11 panels leave free.
#pragma once

#include <QRect>
#include <optional>

namespace brimlet::platform::ui {

// `screen` (in Qt's coordinates, its pixels `scale` times the system's) less
// the edges that panels reserve with _NET_WM_STRUT_PARTIAL or _NET_WM_STRUT,
// in the same coordinates. Window managers publish this as the work area,
// but a desktop without one leaves it to us. Nothing when Qt is not on X11.
[[nodiscard]] std::optional<QRect> freeArea(QRect screen, qreal scale);

// A point in the system's pixels (as a tray host names one) in Qt's
// coordinates, which differ where Qt scales a screen.
[[nodiscard]] QPoint fromSystemPixels(QPoint point);

}  // namespace brimlet::platform::ui
