#include "ax/text_selection.h"

#include <cstdint>
#include <limits>
#include <string>
#include <variant>

#include "ax/attribute_readers.h"

namespace focusctl {

Reply describeSelection(const platform::Element& element) {
  const platform::CopiedAttribute copied =
      platform::copyAttributeValue(element, "AXSelectedTextRange");
  const auto* range = std::get_if<platform::Range>(&copied.value);
  constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max();
  // Whatever does not make a span of a text is no selection.
  if (copied.code != platform::code::success || range == nullptr || range->location < 0 ||
      range->length < 0 || range->location > most || range->length > most - range->location) {
    return refusal("no-selection");
  }
  std::string text;
  // A password is never asked for, not even its selected part.
  if (range->length > 0 &&
      stringAttribute(element, "AXSubrole") != "AXSecureTextField") {
    text = stringAttribute(element, "AXSelectedText");
  }
  return Reply{{"ok", true},
               {"text", std::move(text)},
               {"start", static_cast<std::int32_t>(range->location)},
               {"length", static_cast<std::int32_t>(range->length)}};
}

}  // namespace focusctl
