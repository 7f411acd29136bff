#include "watch/watcher.h"

#include "ax/focused_element.h"

#include <chrono>
#include <string>
#include <utility>

namespace focusctl {

platform::Observer watcherObserver;
platform::Element watcherAppElement;
platform::Element watcherValueElement;
platform::RunLoopSource watcherRunLoopSource;
bool watcherFocusSupported = false;

namespace {

constexpr std::string_view focusChanged = "AXFocusedUIElementChanged";
constexpr std::string_view valueChanged = "AXValueChanged";
constexpr std::chrono::milliseconds firstLookBudget{1600};

bool registered(platform::ResultCode code) {
  return code == platform::code::success ||
         code == platform::code::notificationAlreadyRegistered;
}

void onApplicationActivated() { rebuild(); }

}  // namespace

void resetWatcherState() {
  if (watcherRunLoopSource) {
    platform::removeSourceFromMainRunLoop(watcherRunLoopSource);
  }
  watcherRunLoopSource.reset();
  watcherObserver.reset();
  watcherAppElement.reset();
  watcherValueElement.reset();
  watcherFocusSupported = false;
}

void watchAccessibilityChanges() {
  platform::observeApplicationActivation(onApplicationActivated);
  // The first look has a one-shot command's time, as each event's has once
  // the loop runs: a hostile application in front must not hold up the
  // first line.
  platform::limitAccessibilityTime(firstLookBudget);
  rebuild();
  platform::limitAccessibilityTime(std::nullopt);
  platform::runMainRunLoop();
}

void rebuild() {
  // The old source is detached before its observer is given up, so no
  // callback of the old observer can run after this point.
  resetWatcherState();

  const platform::RunningApplication application =
      platform::frontmostApplication();
  if (!application) {
    emitWatchEvent("fallback");
    return;
  }
  const platform::Pid pid = platform::processIdentifier(application);
  platform::Element appElement = platform::createApplicationElement(pid);
  platform::CreatedObserver created =
      platform::createObserver(pid, watcherCallback);
  if (created.code != platform::code::success || !created.observer) {
    emitWatchEvent("fallback");
    return;  // the application element and any observer are given up here
  }
  watcherObserver = std::move(created.observer);
  watcherAppElement = std::move(appElement);

  watcherRunLoopSource = platform::observerRunLoopSource(watcherObserver);
  if (watcherRunLoopSource) {
    platform::addSourceToMainRunLoop(watcherRunLoopSource);
  }
  watcherFocusSupported = registered(platform::addObserverNotification(
      watcherObserver, watcherAppElement, focusChanged, nullptr));
  refreshWatcherValueNotification();
}

void refreshWatcherValueNotification() {
  if (!watcherObserver || !watcherAppElement) {
    emitWatchEvent("fallback");
    return;
  }
  if (watcherValueElement) {
    platform::removeObserverNotification(watcherObserver, watcherValueElement,
                                         valueChanged);
  }
  watcherValueElement = watcherFocusedElement(watcherAppElement);
  const bool valueRegistered =
      watcherValueElement &&
      registered(platform::addObserverNotification(
          watcherObserver, watcherValueElement, valueChanged, nullptr));
  emitWatchEvent(watcherFocusSupported && valueRegistered ? "watching"
                                                          : "fallback");
}

platform::Element watcherFocusedElement(const platform::Element& app) {
  return focusedUIElementOf(app);
}

void watcherCallback(platform::ObserverRef*, platform::ElementRef*,
                     std::string_view notification, void*) {
  if (notification == focusChanged) refreshWatcherValueNotification();
  emitWatchEvent("ax");
}

void emitWatchEvent(std::string_view text) {
  std::string line(text);
  line += '\n';
  platform::writeLineNow(line);
}

}  // namespace focusctl
