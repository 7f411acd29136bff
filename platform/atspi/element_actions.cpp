// Writing an element's value and pressing it over AT-SPI.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/bus_session.h"
#include "platform/atspi/element_access.h"
#include "platform/atspi/element_facts.h"

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

// The code for a failed call, remembered when it says the element is gone.
ResultCode failureOf(ElementFacts& facts, const bus::Outcome& outcome) {
  ResultCode code = failureCode(facts.element(), outcome);
  facts.noteFailure(code);
  return code;
}

// What a write or an action the toolkit answered with a Boolean came to: a
// refusal is looked into like any failed call.
ResultCode resultOf(ElementFacts& facts, bus::Reply<bool>& answer) {
  const bool* done = answer.get();
  if (done == nullptr) return failureOf(facts, answer.outcome());
  if (*done) return code::success;
  ResultCode code = failureCode(facts.element());
  facts.noteFailure(code);
  return code;
}

}  // namespace

ResultCode setElementValue(ElementFacts& facts, std::string_view text) {
  if (!representableOnBus(text)) return code::illegalArgument;
  if (facts.vanished()) return code::invalidElement;
  // The facts (the interfaces among them) arrive together.
  facts.isSecureText();
  if (facts.failed()) return facts.failure();
  if (!facts.implements(wire::editableTextInterface)) return code::attributeUnsupported;
  // Text asked before the write is old news after it.
  facts.takeText();
  std::string contents(text);
  auto written = calls::setTextContents(facts.element(), contents);
  if (ResultCode code = resultOf(facts, written); code != code::success) return code;
  return readsBackAs(facts, contents) ? code::success : code::cannotComplete;
}

ResultCode pressElement(ElementFacts& facts) {
  if (facts.vanished()) return code::invalidElement;
  auto actions = calls::actions(facts.element());
  if (!facts.implements(wire::actionInterface)) {
    if (facts.failed()) return facts.failure();
    return code::actionUnsupported;
  }
  const std::vector<calls::ActionInfo>* all = actions.get();
  if (all == nullptr) return failureOf(facts, actions.outcome());
  if (all->empty()) return code::actionUnsupported;
  // GetActions carries the localized names (empty in Chromium, translated
  // elsewhere); the toolkit's own names come one by one from GetName, all
  // asked together.
  std::vector<bus::Reply<std::string>> asked;
  for (std::size_t i = 0; i < all->size(); ++i) {
    asked.push_back(calls::actionName(facts.element(), static_cast<std::int32_t>(i)));
  }
  std::vector<std::string> names;
  for (bus::Reply<std::string>& name : asked) {
    const std::string* known = name.get();
    names.push_back(known != nullptr ? *known : std::string());
  }
  std::optional<int> press = pressActionIndex(names);
  if (!press) return code::actionUnsupported;
  auto done = calls::doAction(facts.element(), *press);
  return resultOf(facts, done);
}

}  // namespace focusctl::platform::atspi
