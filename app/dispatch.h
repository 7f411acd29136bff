// The process itself: takes the command word, applies the trust and focus
// gates in front of the element commands, and writes the one reply.
#pragma once

#include <string>

namespace focusctl {

// The command word of this run; "read" when none was given.
extern std::string command;

// Runs one command for the argument vector (entry 0 is the program path) and
// returns the exit status, always 0. "watch" returns only if its run loop
// stops.
int runCommandLine(int argc, const char* const* argv);

}  // namespace focusctl
