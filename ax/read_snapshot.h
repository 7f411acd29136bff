#pragma once

#include "common/reply.h"
#include "platform/platform.h"

namespace focusctl {

// The fifteen-member reply of `read` for the focused element (borrowed).
Reply readSnapshot(const platform::Element& element, platform::Pid pid);

}  // namespace focusctl
