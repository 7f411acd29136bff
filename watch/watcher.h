// Watch mode: follows the frontmost application and streams "watching",
// "fallback" and "ax" lines as focus and values change.
#pragma once

#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace focusctl {

// The watcher's state. Only the watcher routines touch these, all on the
// main thread.
extern platform::Observer watcherObserver;
extern platform::Element watcherAppElement;
extern platform::Element watcherValueElement;
extern platform::RunLoopSource watcherRunLoopSource;
extern bool watcherFocusSupported;

// Empties the five variables, giving up what they hold.
void resetWatcherState();

// Entry point of `watch`; returns only if the main run loop stops.
void watchAccessibilityChanges();

// Discards the whole observation and builds it again for the frontmost
// application. Writes exactly one line.
void rebuild();

// Moves the value-change registration to the element that has focus now.
// Writes exactly one line.
void refreshWatcherValueNotification();

platform::Element watcherFocusedElement(const platform::Element& app);

void watcherCallback(platform::ObserverRef* observer,
                     platform::ElementRef* element,
                     std::string_view notification, void* context);

// Writes the text and a line feed in one write, then flushes.
void emitWatchEvent(std::string_view text);

}  // namespace focusctl
