#include "shell/app_delegate.h"

#include <utility>

#include "platform/ui/application.h"
#include "shell/adapters.h"

namespace brimlet {

AppDelegate::AppDelegate()
    : AppDelegate(adapters::mainExecutor(), []() -> ClipStore& { return ClipStore::shared(); }) {}

AppDelegate::AppDelegate(platform::MainExecutor& executor, std::function<ClipStore&()> store)
    : executor_(executor), store_(std::move(store)) {}

void AppDelegate::applicationDidFinishLaunching() {
    platform::ui::Application::becomeAccessory();
    // Polling starts in a later turn of the loop, once launching is over.
    executor_.post([store = store_] { store().start(); });
}

}  // namespace brimlet
