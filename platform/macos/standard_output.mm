// Standard output: buffered replies through stdio, watch lines through the
// standard-output file handle in one write each.
#import <Foundation/Foundation.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/platform.h"

#if !__has_feature(objc_arc)
#error "platform/macos requires ARC: compile Objective-C++ with -fobjc-arc"
#endif

namespace focusctl::platform {

void writeOutput(std::string_view bytes) {
  @autoreleasepool {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
}

void writeLineNow(std::string_view line) {
  @autoreleasepool {
    NSData* data = [NSData dataWithBytes:line.data() length:line.size()];
    // writeData:error: reports a failed write instead of raising. A reader
    // that has gone away normally ends the process by SIGPIPE; a controller
    // that ignores SIGPIPE passes that on to us, and a watcher nobody can
    // read would then run for ever, so it ends here.
    if (![NSFileHandle.fileHandleWithStandardOutput writeData:data error:nil]) {
      std::_Exit(0);
    }
    std::fflush(stdout);
  }
}

}  // namespace focusctl::platform
