#include "history/clip_store.h"
#include "platform/system.h"

namespace {

brimlet::StoreEnvironment systemEnvironment() {
    return {
        .generalPasteboard = []() -> brimlet::platform::Pasteboard& {
            return brimlet::platform::generalPasteboard();
        },
        .timers = &brimlet::platform::mainTimerScheduler(),
        .mainExecutor = &brimlet::platform::mainExecutor(),
    };
}

}  // namespace

namespace brimlet {

ClipStore& ClipStore::shared() {
    // A function-local static: made once, even when two threads arrive first.
    static const std::shared_ptr<ClipStore> store = make(systemEnvironment());
    return *store;
}

}  // namespace brimlet
