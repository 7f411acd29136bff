// The caret and the selection of an element's Text interface: in the
// toolkit's own offsets for an edit, and as "AXSelectedTextRange" (UTF-16
// code units) and "AXSelectedText" for a reader.
#pragma once

#include <cstdint>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/element_facts.h"
#include "platform/atspi/accessible/text_offsets.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// Where the user's typing would go: the selection, else the caret as an
// empty span; -25212 when there is neither.
struct Caret {
  ResultCode code = code::failure;
  calls::Span span;
  OffsetUnits units = OffsetUnits::codePoints;
  std::int32_t characterCount = 0;
};
// Of an element known to offer Text; every question asked at once.
Caret caretOf(ElementFacts& facts);

// The two attributes, read once for both. A password field's range is in
// the toolkit's own offsets (its text, which converting needs, is never
// read) and its text is never given: -25212.
CopiedAttribute readSelectedTextRange(ElementFacts& facts);
CopiedAttribute readSelectedText(ElementFacts& facts);

}  // namespace focusctl::platform::atspi
