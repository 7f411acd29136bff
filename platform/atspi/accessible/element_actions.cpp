// Writing an element's value, editing at its caret and pressing it over
// AT-SPI.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/accessible/element_access.h"
#include "platform/atspi/accessible/element_facts.h"
#include "platform/atspi/accessible/text_offsets.h"
#include "platform/atspi/accessible/text_selection.h"

namespace focusctl::platform::atspi {
namespace {

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF), and how many characters they hold.
std::optional<std::size_t> utf8Length(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++characters) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xe ? 3
                                        : (byte >> 3) == 0x1e ? 4 : 0;
    if (length == 0 || i + length > text.size()) return std::nullopt;
    std::uint32_t point = length == 1 ? byte : byte & (0x7fU >> length);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return std::nullopt;
      point = (point << 6) | (next & 0x3fU);
    }
    static constexpr std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) {
      return std::nullopt;
    }
    i += length;
  }
  return characters;
}

// D-Bus carries only well-formed UTF-8 without NUL; anything else would be
// cut short or refused on the way and set something other than asked.
bool representableOnBus(std::string_view text) {
  return text.find('\0') == std::string_view::npos && utf8Length(text).has_value();
}

// Whether the element now holds the text. Some toolkits answer a write with
// success and change nothing; an element without a Text interface is taken
// at its word. A password is never read: its character count confirms it
// (one browser ignores writes to password fields), and a count that cannot
// be read confirms nothing.
bool readsBackAs(ElementFacts& facts, const std::string& expected) {
  bool secure = facts.isSecureText();
  if (!facts.implements(wire::textInterface)) return true;
  if (secure) {
    auto count = calls::characterCount(facts.element());
    const std::int32_t* characters = count.get();
    return characters != nullptr && *characters >= 0 &&
           static_cast<std::size_t>(*characters) == utf8Length(expected).value_or(0);
  }
  std::optional<std::string> now = wholeText(facts.element());
  // Unreadable now: the toolkit's own answer stands.
  return !now || *now == expected;
}

// What a write or an action the toolkit answered with a Boolean came to: a
// refusal is looked into like any failed call.
ResultCode resultOf(ElementFacts& facts, bus::Reply<bool>& answer) {
  const bool* done = answer.get();
  if (done == nullptr) return facts.failureOf(answer.outcome());
  if (*done) return code::success;
  return facts.failureOf();
}

// Puts the text that was there before a write back, where the write left
// something else: GTK 3 replaces a text by deleting it and inserting the
// new one, and a numeric spin button rejects the insertion of anything but
// digits, leaving the field empty.
void putBack(const ObjectRef& element, TextQuestions before) {
  std::optional<std::string> old = wholeText(element, std::move(before));
  if (!old) return;
  std::optional<std::string> now = wholeText(element);
  if (now && *now != *old) calls::setTextContents(element, *old).get();
}

// The most windows of an application looked at for a dialog.
constexpr std::size_t maxWindowsLooked = 256;
// How often the application is asked for its windows while an action has
// not answered.
constexpr std::chrono::milliseconds dialogPoll{25};

// The application's windows and which of them say ACTIVE, asked in two
// steps so that each travels with other questions.
class WindowStates {
 public:
  explicit WindowStates(const ObjectRef& element)
      : list_(calls::children({element.bus, std::string(wire::rootPath)})) {}
  void askStates() {
    const std::vector<ObjectRef>* windows = list_.get();
    if (windows == nullptr) return;
    for (const ObjectRef& window : *windows) {
      if (states_.size() == maxWindowsLooked) break;
      states_.emplace_back(window, calls::states(window));
    }
  }
  // Nothing when the windows could not be listed.
  std::optional<std::vector<ObjectRef>> active() {
    if (list_.get() == nullptr) return std::nullopt;
    std::vector<ObjectRef> found;
    for (auto& [window, states] : states_) {
      const calls::StateBits* bits = states.get();
      if (bits != nullptr && calls::hasState(*bits, ATSPI_STATE_ACTIVE)) found.push_back(window);
    }
    return found;
  }

 private:
  bus::Reply<std::vector<ObjectRef>> list_;
  std::vector<std::pair<ObjectRef, bus::Reply<calls::StateBits>>> states_;
};

// Whether the action, still running, opened a window that took the focus.
// Qt (and GTK 3, for a menu item) runs an action before answering it: one
// that opens a modal dialog answers only once the dialog closes, while the
// dialog's event loop answers every other call. So the application's
// windows are asked until the action answers or its call would time out: a
// window that says ACTIVE and did not before the action is the evidence
// that the action ran. An application that answers nothing gives none.
bool openedWindow(const ObjectRef& element, std::optional<std::vector<ObjectRef>> before,
                  bus::Reply<bool>& action) {
  if (!before) return false;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(bus::callTimeoutMs);
  while (!action.ended()) {
    // Answered after the action, or from inside it.
    WindowStates now(element);
    now.askStates();
    std::optional<std::vector<ObjectRef>> active = now.active();
    if (action.ended() || !active) return false;
    for (const ObjectRef& window : *active) {
      if (std::find(before->begin(), before->end(), window) == before->end()) return true;
    }
    if (std::chrono::steady_clock::now() + dialogPoll >= until || bus::outOfTime()) return false;
    bus::runFor(dialogPoll);
  }
  return false;
}

}  // namespace

ResultCode setElementValue(ElementFacts& facts, std::string_view text) {
  if (!representableOnBus(text)) return code::illegalArgument;
  const ResultCode usable = facts.offers({wire::editableTextInterface});
  if (usable != code::success) return usable;
  // The text before the write, asked ahead of it (the application answers
  // in order), so that a write it refuses half-way can be undone. A
  // password is never read, so never put back.
  std::optional<TextQuestions> before;
  if (!facts.isSecureText() && facts.implements(wire::textInterface)) {
    before = facts.textQuestions();
  }
  std::string contents(text);
  auto written = calls::setTextContents(facts.element(), contents);
  ResultCode code = resultOf(facts, written);
  if (code == code::success && readsBackAs(facts, contents)) return code::success;
  if (before && code != code::invalidElement) putBack(facts.element(), std::move(*before));
  return code == code::success ? code::cannotComplete : code;
}

ResultCode pressElement(ElementFacts& facts) {
  if (facts.vanished()) return code::invalidElement;
  auto actions = calls::actions(facts.element());
  // Which windows are active before the action, asked with its names.
  WindowStates before(facts.element());
  if (ResultCode unknown = facts.interfacesUnknown(); unknown != code::success) return unknown;
  if (!facts.implements(wire::actionInterface)) return code::actionUnsupported;
  const std::vector<calls::ActionInfo>* all = actions.get();
  if (all == nullptr) return facts.failureOf(actions.outcome());
  if (all->empty()) return code::actionUnsupported;
  // GetActions carries the localized names (empty in Chromium, translated
  // elsewhere); the toolkit's own names come one by one from GetName, all
  // asked together.
  std::vector<bus::Reply<std::string>> asked;
  for (std::size_t i = 0; i < all->size(); ++i) {
    asked.push_back(calls::actionName(facts.element(), static_cast<std::int32_t>(i)));
  }
  before.askStates();
  std::vector<std::string> names;
  for (bus::Reply<std::string>& name : asked) {
    const std::string* known = name.get();
    names.push_back(known != nullptr ? *known : std::string());
  }
  std::optional<int> press = pressActionIndex(names);
  if (!press) return code::actionUnsupported;
  std::optional<std::vector<ObjectRef>> activeBefore = before.active();
  auto done = calls::doAction(facts.element(), *press);
  if (openedWindow(facts.element(), std::move(activeBefore), done)) return code::success;
  return resultOf(facts, done);
}

namespace {

// One edit at the caret: the span it replaces and the text put there, in
// the toolkit's own offsets.
struct CaretEdit {
  ElementFacts& facts;
  Caret caret;
  std::string text;
  std::int32_t added = 0;   // the text's length in the toolkit's count
  std::int32_t length = 0;  // InsertText's length argument

  const ObjectRef& element() const { return facts.element(); }
  std::int32_t start() const { return caret.span.start; }
  std::int32_t end() const { return caret.span.end; }
  std::int32_t count() const { return caret.characterCount; }
  std::int32_t expectedCount() const { return count() - (end() - start()) + added; }
};

// The caret where typing the text would have left it; moved only once the
// edit is known to have landed, so that a refused one leaves the selection
// alone. The text is in whether or not the toolkit moves its caret.
ResultCode moveCaretAfter(CaretEdit& edit) {
  calls::setCaretOffset(edit.element(), edit.start() + edit.added).get();
  return code::success;
}

// A text that can be read back: the selection is read, deleted, the text
// inserted in its place, and the edited range read back with the count.
// Where only the deletion landed, the deleted text goes back in; where only
// the insertion did, it comes out again.
ResultCode replaceReadable(CaretEdit& edit) {
  std::string removed;
  if (edit.end() > edit.start()) {
    auto selected = calls::text(edit.element(), edit.start(), edit.end());
    std::optional<std::string> was = selected.take();
    if (!was) return edit.facts.failureOf(selected.outcome());
    removed = visibleText(*was, edit.caret.units);
    auto deleted = calls::deleteText(edit.element(), edit.start(), edit.end());
    if (ResultCode code = resultOf(edit.facts, deleted); code != code::success) return code;
  }
  auto inserted = calls::insertText(edit.element(), edit.start(), edit.text, edit.length);
  const ResultCode code = resultOf(edit.facts, inserted);
  auto now = calls::text(edit.element(), edit.start(), edit.start() + edit.added);
  auto characters = calls::characterCount(edit.element());
  const std::string* back = now.get();
  const std::int32_t* count = characters.get();
  const bool textThere = back != nullptr && visibleText(*back, edit.caret.units) == edit.text;
  if (code == code::success && textThere && count != nullptr && *count == edit.expectedCount()) {
    return moveCaretAfter(edit);
  }
  if (count != nullptr && edit.end() > edit.start()) {
    if (*count == edit.count() - (edit.end() - edit.start())) {
      const auto length = static_cast<std::int32_t>(insertLength(removed, edit.caret.units));
      calls::insertText(edit.element(), edit.start(), removed, length).get();
    } else if (*count == edit.count() + edit.added && textThere) {
      calls::deleteText(edit.element(), edit.start(), edit.start() + edit.added).get();
    }
  }
  return code != code::success ? code : code::cannotComplete;
}

// A password is never read, so a deleted part could not be put back: the
// text goes in after the selection first, then the selection comes out,
// and only the count confirms it. Where the deletion did not follow, the
// insertion comes out again.
ResultCode replaceSecure(CaretEdit& edit) {
  auto inserted = calls::insertText(edit.element(), edit.end(), edit.text, edit.length);
  if (ResultCode code = resultOf(edit.facts, inserted); code != code::success) return code;
  ResultCode code = code::success;
  if (edit.end() > edit.start()) {
    auto deleted = calls::deleteText(edit.element(), edit.start(), edit.end());
    code = resultOf(edit.facts, deleted);
  }
  auto characters = calls::characterCount(edit.element());
  const std::int32_t* count = characters.get();
  if (code == code::success && count != nullptr && *count == edit.expectedCount()) {
    return moveCaretAfter(edit);
  }
  if (count != nullptr && *count == edit.count() + edit.added && edit.end() > edit.start()) {
    calls::deleteText(edit.element(), edit.end(), edit.end() + edit.added).get();
  }
  return code != code::success ? code : code::cannotComplete;
}

}  // namespace

ResultCode replaceSelection(ElementFacts& facts, std::string_view text) {
  if (!representableOnBus(text)) return code::illegalArgument;
  const ResultCode usable = facts.offers({wire::editableTextInterface, wire::textInterface});
  if (usable != code::success) return usable;
  const bool secure = facts.isSecureText();
  // A selection read before the edit is old news after it.
  facts.selection().reset();
  CaretEdit edit{facts, caretOf(facts), std::string(text)};
  if (edit.caret.code != code::success) return edit.caret.code;
  const std::int64_t added = lengthIn(text, edit.caret.units);
  const std::int64_t length = insertLength(text, edit.caret.units);
  // Offsets are 32-bit on the wire: a text that would reach past them is
  // not sent at all.
  constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max();
  if (length > most || added > most - edit.count()) return code::illegalArgument;
  edit.added = static_cast<std::int32_t>(added);
  edit.length = static_cast<std::int32_t>(length);
  return secure ? replaceSecure(edit) : replaceReadable(edit);
}

}  // namespace focusctl::platform::atspi
