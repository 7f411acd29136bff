#include "platform/atspi/accessible/text_selection.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>


namespace focusctl::platform::atspi {
namespace {

ElementFacts::Selection failed(ResultCode code) {
  ElementFacts::Selection selection;
  selection.code = code;
  return selection;
}

ElementFacts::Selection readSelection(ElementFacts& facts) {
  const ResultCode usable = facts.offers({wire::textInterface});
  if (usable != code::success) return failed(usable);
  const bool secure = facts.isSecureText();
  const Caret caret = caretOf(facts);
  if (caret.code != code::success) return failed(caret.code);
  const auto [start, end] = caret.span;
  ElementFacts::Selection selection;
  selection.code = code::success;
  if (secure) {
    selection.range = {start, end - start};
    return selection;
  }
  // The text up to the selection's end is what converting its offsets needs.
  std::optional<std::string> before = std::string();
  if (end > 0) {
    auto asked = calls::text(facts.element(), 0, end);
    before = asked.take();
    if (!before) return failed(facts.failureOf(asked.outcome()));
  }
  const std::optional<TextPlace> from = placeOf(*before, caret.units, start);
  const std::optional<TextPlace> to = placeOf(*before, caret.units, end);
  // A text shorter than the offsets it was asked for: the two answers
  // disagree, and neither is known to be right.
  if (!from || !to) return failed(code::cannotComplete);
  selection.range = {from->utf16, to->utf16 - from->utf16};
  selection.text = visibleText(std::string_view(*before).substr(from->byte, to->byte - from->byte),
                               caret.units);
  return selection;
}

const ElementFacts::Selection& selectionOf(ElementFacts& facts) {
  std::optional<ElementFacts::Selection>& known = facts.selection();
  if (!known) known = readSelection(facts);
  return *known;
}

}  // namespace

Caret caretOf(ElementFacts& facts) {
  const ObjectRef& element = facts.element();
  auto selections = calls::selectionCount(element);
  auto first = calls::selection(element, 0);
  auto caretOffset = calls::caretOffset(element);
  auto characters = calls::characterCount(element);
  // Every application's root has the same path; its toolkit says how it
  // counts offsets.
  auto toolkit = calls::toolkitName({element.bus, std::string(wire::rootPath)});
  Caret caret;
  const std::string* name = toolkit.get();
  caret.units = offsetUnitsOf(name != nullptr ? *name : std::string());
  auto answer = [&caret](ResultCode code, calls::Span span = {}) {
    caret.code = code;
    caret.span = span;
    return caret;
  };
  const std::int32_t* count = characters.get();
  if (count == nullptr) return answer(facts.failureOf(characters.outcome()));
  caret.characterCount = *count;
  const std::int32_t* offset = caretOffset.get();
  // The first selection, in either direction. The caret stands at one of
  // its ends; where it does not (Chromium's selection offsets stray from
  // its caret's beyond the Basic Multilingual Plane), or where the
  // selection reaches outside the text, neither answer is known to be
  // right, and an edit would land elsewhere.
  const std::int32_t* selected = selections.get();
  if (const calls::Span* span = first.get(); selected != nullptr && *selected > 0 && span) {
    const std::int32_t start = std::min(span->start, span->end);
    const std::int32_t end = std::max(span->start, span->end);
    if (start < 0 || end > *count ||
        (offset != nullptr && *offset >= 0 && *offset != start && *offset != end)) {
      return answer(code::cannotComplete);
    }
    if (end > start) return answer(code::success, {start, end});
  }
  if (offset == nullptr) return answer(facts.failureOf(caretOffset.outcome()));
  // Firefox answers -1 where nothing has a caret.
  if (*offset < 0) return answer(code::noValue);
  if (*offset > *count) return answer(code::cannotComplete);
  return answer(code::success, {*offset, *offset});
}

CopiedAttribute readSelectedTextRange(ElementFacts& facts) {
  const ElementFacts::Selection& selection = selectionOf(facts);
  if (selection.code != code::success) return {selection.code, std::monostate{}};
  return {code::success, selection.range};
}

CopiedAttribute readSelectedText(ElementFacts& facts) {
  const ElementFacts::Selection& selection = selectionOf(facts);
  if (selection.code != code::success) return {selection.code, std::monostate{}};
  if (!selection.text) return {code::noValue, std::monostate{}};
  return {code::success, *selection.text};
}

}  // namespace focusctl::platform::atspi
