// Standard output on POSIX systems, shared by the Linux backends.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace focusctl::platform {

void writeOutput(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeLineNow(std::string_view line) {
  // One write(2) of the whole line, so a reader never sees half a line;
  // a short write (a full pipe being drained) is continued.
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(STDOUT_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  std::fflush(stdout);
}

}  // namespace focusctl::platform
