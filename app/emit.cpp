#include "app/emit.h"

#include "app/json_writer.h"
#include "platform/platform.h"

namespace focusctl {

void emit(const Reply& reply) {
  std::string line = serializeReply(reply);
  line += '\n';
  platform::writeOutput(line);
}

}  // namespace focusctl
