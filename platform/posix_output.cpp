// Standard output on POSIX systems, shared by the Linux backends.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace focusctl::platform {

void writeOutput(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeLineNow(std::string_view line) {
  // One write(2) of the whole line, so a reader never sees half a line;
  // a short write (a full pipe being drained) is continued, and so is a
  // non-blocking descriptor once it can take more.
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(STDOUT_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd out{STDOUT_FILENO, POLLOUT, 0};
        ::poll(&out, 1, -1);
        continue;
      }
      // Nobody can read the lines any more. A closed pipe normally ends the
      // process by SIGPIPE; a controller that ignores SIGPIPE passes that on
      // to us, and the watcher would then run for ever with no reader.
      std::_Exit(0);
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  std::fflush(stdout);
}

}  // namespace focusctl::platform
