#include "common/reply.h"

namespace focusctl {

Reply refusal(const char* reason) {
  return Reply{{"ok", false}, {"reason", std::string(reason)}};
}

}  // namespace focusctl
