#pragma once

#include "common/reply.h"

namespace focusctl {

// Writes the reply as one line of compact JSON to standard output. The only
// writer of one-shot output.
void emit(const Reply& reply);

}  // namespace focusctl
