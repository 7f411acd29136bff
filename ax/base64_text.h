#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace focusctl {

// Strict standard Base64 (RFC 4648 section 4) of well-formed UTF-8. Padding is
// required and only at the very end, non-zero leftover bits are refused, and
// nothing else (white space, line breaks, the URL-safe alphabet) is accepted.
// The empty argument decodes to the empty text.
std::optional<std::string> decodeBase64Text(std::string_view argument);

}  // namespace focusctl
