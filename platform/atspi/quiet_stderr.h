// Keeps what libraries print while connecting (Xlib prints an X server's
// refusal, libdbus its own complaints) off standard error, which focusctl
// never writes to.
#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace focusctl::platform::atspi {

// Points file descriptor 2 at /dev/null for its lifetime. focusctl runs on
// one thread, so nothing else writes meanwhile.
class QuietStandardError {
 public:
  QuietStandardError() {
    saved_ = ::dup(STDERR_FILENO);
    int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink >= 0) {
      ::dup2(sink, STDERR_FILENO);
      ::close(sink);
    }
  }
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;
  ~QuietStandardError() {
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
  }

 private:
  int saved_ = -1;
};

}  // namespace focusctl::platform::atspi
