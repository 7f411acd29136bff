#include "app/dispatch.h"

#include <optional>
#include <string_view>

#include "app/application_commands.h"
#include "app/emit.h"
#include "ax/element_actions.h"
#include "ax/focused_element.h"
#include "ax/read_snapshot.h"
#include "platform/platform.h"
#include "watch/watcher.h"

namespace focusctl {

std::string command;

namespace {

std::optional<std::string_view> argumentAfterCommand(int argc,
                                                     const char* const* argv) {
  if (argc < 3 || argv[2] == nullptr) return std::nullopt;
  return std::string_view(argv[2]);
}

}  // namespace

int runCommandLine(int argc, const char* const* argv) {
  resetWatcherState();
  command = argc > 1 && argv[1] != nullptr ? std::string(argv[1]) : "read";

  if (command == "watch") {
    watchAccessibilityChanges();
    return 0;
  }
  if (command == "activate") {
    emit(activateApp(argumentAfterCommand(argc, argv)));
    return 0;
  }
  if (command == "frontmost") {
    emit(describeFrontmostApp());
    return 0;
  }

  if (!platform::isProcessTrusted()) {
    Reply denied = refusal("accessibility-denied");
    denied["trusted"] = false;
    emit(denied);
    return 0;
  }
  std::optional<FocusedElement> focused = focusedElement();
  if (!focused) {
    Reply none = refusal("no-focused-element");
    none["trusted"] = true;
    emit(none);
    return 0;
  }

  if (command == "read") {
    emit(readSnapshot(focused->element, focused->pid));
  } else if (command == "set") {
    emit(setFocusedText(focused->element, argumentAfterCommand(argc, argv)));
  } else if (command == "press") {
    emit(pressFocused(focused->element));
  } else {
    emit(refusal("unknown-command"));
  }
  // The focused element is released here, after its reply has been written.
  return 0;
}

}  // namespace focusctl
