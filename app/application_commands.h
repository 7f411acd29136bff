// The commands that work on whole applications: activate and frontmost. Both
// run before the trust gate.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/reply.h"

namespace focusctl {

// Exactly the decimal form of a signed 32-bit integer: an optional sign, then
// ASCII digits only; overflow is detected while accumulating.
std::optional<std::int32_t> parseProcessId(std::string_view text);

Reply activateApp(std::optional<std::string_view> argument);
Reply describeFrontmostApp();

}  // namespace focusctl
