// The reply serialiser: compact JSON on one line. The solidus is written as
// \/, a line feed as \n, other control characters escaped, and non-ASCII
// characters as UTF-8. Ill-formed UTF-8 in a text is written as U+FFFD, so the
// output is always valid JSON.
#pragma once

#include <string>
#include <string_view>

#include "app/reply.h"

namespace focusctl {

// The JSON text of the reply, without a line feed.
std::string serializeReply(const Reply& reply);

// Appends the JSON string literal (quotes included) for a UTF-8 text.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace focusctl
