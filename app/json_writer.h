// The reply serialiser: compact JSON on one line. The solidus is written as
// \/, a line feed as \n, other control characters escaped, and non-ASCII
// characters as UTF-8. Ill-formed UTF-8 in a text is written as U+FFFD, so the
// output is always valid JSON.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/reply.h"

namespace focusctl {

// Takes the JSON text in order, a piece at a time.
using JsonSink = std::function<void(std::string_view)>;

// The JSON text of the reply, without a line feed, handed on in pieces of
// some tens of kilobytes: a text of many megabytes is never held twice.
void writeReply(const Reply& reply, const JsonSink& write);

// The same JSON text as one string.
std::string serializeReply(const Reply& reply);

}  // namespace focusctl
