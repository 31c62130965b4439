// One history entry: an identity and the clipboard text exactly as read.
#pragma once

#include <utility>

#include "platform/core/text.h"
#include "platform/core/uuid.h"

namespace brimlet {

using platform::Text;
using platform::Uuid;

// Copying shares the text, so entries are cheap to pass around by value.
struct ClipItem {
    Uuid id;
    Text text;

    // Equal when both identity and text are; the identity decides first.
    friend bool operator==(const ClipItem& a, const ClipItem& b) {
        return a.id == b.id && a.text == b.text;
    }
};

}  // namespace brimlet
