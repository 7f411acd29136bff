// Standard output on POSIX systems, shared by the Linux backends.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace focusctl::platform {

namespace {

// A controller may close its end before reading the reply, and the buffered
// reply is only written at exit: SIGPIPE would then end the process with
// status 141. Ignored, the write fails with EPIPE instead and the status
// stays 0. Nothing is exec'd from here, so the setting goes nowhere else.
void ignoreBrokenPipe() {
  static const bool ignored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  static_cast<void>(ignored);
}

}  // namespace

void writeOutput(std::string_view bytes) {
  ignoreBrokenPipe();
  // A reply of megabytes goes through a pipe of 64 KiB in a wait for the
  // reader at every turn; a wider pipe (where stdout is one) takes fewer.
  if (bytes.size() >= 64 * 1024) {
    static const bool widened = ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20) >= 0;
    static_cast<void>(widened);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeLineNow(std::string_view line) {
  // One write(2) of the whole line, so a reader never sees half a line;
  // a short write (a full pipe being drained) is continued, and so is a
  // non-blocking descriptor once it can take more.
  ignoreBrokenPipe();
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
      // Nobody can read the lines any more (EPIPE, with SIGPIPE ignored):
      // the watcher would otherwise run for ever with no reader.
      std::_Exit(0);
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  std::fflush(stdout);
}

}  // namespace focusctl::platform
