#include "app/command_deadline.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "app/json_writer.h"
#include "platform/platform.h"

namespace focusctl {
namespace {

std::mutex guard;
bool armed = false;
bool answered = false;
std::string standing;

}  // namespace

void armCommandDeadline() {
  {
    std::lock_guard lock(guard);
    armed = true;
  }
  platform::limitAccessibilityTime(callBudget);
  std::thread([due = std::chrono::steady_clock::now() + answerDeadline] {
    std::this_thread::sleep_until(due);
    std::lock_guard lock(guard);
    if (answered || standing.empty()) return;
    answered = true;
    platform::writeLineNow(standing);
    std::_Exit(0);
  }).detach();
}

void setStandingAnswer(const Reply& reply) {
  std::string line = serializeReply(reply) + '\n';
  std::lock_guard lock(guard);
  if (armed) standing = std::move(line);
}

bool claimAnswer() {
  std::lock_guard lock(guard);
  if (answered) return false;
  answered = armed;
  return true;
}

}  // namespace focusctl
