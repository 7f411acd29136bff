#include "app/dispatch.h"

#include <optional>
#include <string_view>

#include "app/application_commands.h"
#include "app/command_deadline.h"
#include "app/emit.h"
#include "ax/element_actions.h"
#include "ax/focused_element.h"
#include "ax/read_snapshot.h"
#include "ax/text_selection.h"
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
    setStandingAnswer(refusal("invalid-pid"));
    emit(activateApp(argumentAfterCommand(argc, argv)));
    return 0;
  }
  if (command == "frontmost") {
    setStandingAnswer(refusal("no-frontmost-app"));
    emit(describeFrontmostApp());
    return 0;
  }

  Reply denied = refusal("accessibility-denied");
  denied["trusted"] = false;
  setStandingAnswer(denied);
  if (!platform::isProcessTrusted()) {
    emit(denied);
    return 0;
  }
  // A lookup that ran out of time found no focused element.
  Reply none = refusal("no-focused-element");
  none["trusted"] = true;
  setStandingAnswer(none);
  std::optional<FocusedElement> focused = focusedElement();
  if (!focused) {
    emit(none);
    return 0;
  }

  if (command == "read") {
    emit(readSnapshot(focused->element, focused->pid));
  } else if (command == "set") {
    setStandingAnswer(actionReply("ax", platform::code::cannotComplete));
    emit(setFocusedText(focused->element, argumentAfterCommand(argc, argv)));
  } else if (command == "press") {
    setStandingAnswer(actionReply("ax-press", platform::code::cannotComplete));
    emit(pressFocused(focused->element));
  } else if (command == "insert") {
    setStandingAnswer(actionReply("ax-insert", platform::code::cannotComplete));
    emit(insertAtCaret(focused->element, argumentAfterCommand(argc, argv)));
  } else if (command == "selection") {
    // Out of time, nothing is known to be selected: no stale offsets.
    setStandingAnswer(refusal("no-selection"));
    emit(describeSelection(focused->element));
  } else {
    emit(refusal("unknown-command"));
  }
  // The focused element is released here, after its reply has been written.
  return 0;
}

}  // namespace focusctl
