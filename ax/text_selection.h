// selection: the focused element's selected text and where it lies, in
// UTF-16 code units on every system.
#pragma once

#include "common/reply.h"
#include "platform/platform.h"

namespace focusctl {

// {"ok": true, "text", "start", "length"}; the caret as an empty selection.
// A secure field's text is "" (never asked for). Without a selection or a
// caret, the "no-selection" refusal.
Reply describeSelection(const platform::Element& element);

}  // namespace focusctl
