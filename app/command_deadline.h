// A one-shot command's deadline: whatever the application in front does,
// the controller has its one line in time. Calls into the accessibility
// service are limited to callBudget (the backend stops asking then, and
// every lookup and action ends with the answer it has for a failed call);
// should anything still hold the command at answerDeadline, the answer
// standing at that moment is written instead and the process ends.
#pragma once

#include <chrono>

#include "common/reply.h"

namespace focusctl {

inline constexpr std::chrono::milliseconds callBudget{1600};
inline constexpr std::chrono::milliseconds answerDeadline{1900};

// Starts the clock for this process. Only the executable's own run arms it:
// tests run many commands in one process.
void armCommandDeadline();

// The answer to give should the deadline pass now.
void setStandingAnswer(const Reply& reply);

// Whether the caller may write the command's line: once only, and not
// after the deadline has answered.
bool claimAnswer();

}  // namespace focusctl
