// Standard output: buffered replies through stdio, watch lines through the
// standard-output file handle in one write each.
#import <Foundation/Foundation.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/platform.h"

#if !__has_feature(objc_arc)
#error "platform/macos requires ARC: compile Objective-C++ with -fobjc-arc"
#endif

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
  @autoreleasepool {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
}

void writeLineNow(std::string_view line) {
  ignoreBrokenPipe();
  @autoreleasepool {
    NSData* data = [NSData dataWithBytes:line.data() length:line.size()];
    // writeData:error: reports a failed write instead of raising. A reader
    // that has gone away fails it (EPIPE, with SIGPIPE ignored), and a
    // watcher nobody can read would then run for ever, so it ends here.
    if (![NSFileHandle.fileHandleWithStandardOutput writeData:data error:nil]) {
      std::_Exit(0);
    }
    std::fflush(stdout);
  }
}

}  // namespace focusctl::platform
