// The reply of a one-shot command: text keys mapped to Booleans, signed
// 32-bit integers or texts. "ok" is always present; refusals add "reason".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace focusctl {

using ReplyValue = std::variant<bool, std::int32_t, std::string>;
using Reply = std::map<std::string, ReplyValue, std::less<>>;

// {"ok": false, "reason": reason}
Reply refusal(const char* reason);

}  // namespace focusctl
