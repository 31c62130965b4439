// Lets assistive technology (screen readers, and our end-to-end tests) see
// the tray panel, which is a popup window.
#pragma once

namespace brimlet::platform::ui {

// Call once, before the application object is made.
void exposePopupsToAssistiveTechnology();

}  // namespace brimlet::platform::ui
