// The X display the Qt application talks to.
#pragma once

#include <string>

namespace brimlet::platform::x11 {

// The name of the display Qt's xcb platform connected to (which honours a
// -display argument as well as $DISPLAY); empty when Qt is not on X11.
[[nodiscard]] std::string qtDisplayName();
// Sends what Qt has queued for the X server and waits until the server has
// done it (one round trip); nothing when Qt is not on X11.
void syncQtDisplay();

}  // namespace brimlet::platform::x11
