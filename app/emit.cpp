#include "app/emit.h"

#include "app/command_deadline.h"
#include "app/json_writer.h"
#include "platform/platform.h"

namespace focusctl {

void emit(const Reply& reply) {
  if (!claimAnswer()) return;
  // In pieces: a reply holding a huge text is not built whole first.
  writeReply(reply, platform::writeOutput);
  platform::writeOutput("\n");
}

}  // namespace focusctl
