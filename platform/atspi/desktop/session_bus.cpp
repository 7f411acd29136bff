#include "platform/atspi/desktop/session_bus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/atspi/bus/bus_client.h"

namespace focusctl::platform::session {
namespace {

using Clock = std::chrono::steady_clock;

struct SlotUnref {
  void operator()(sd_bus_slot* slot) const noexcept { sd_bus_slot_unref(slot); }
};

// Opened on first use (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus)
// and opened again once it has closed. Kept alive at exit, unflushed:
// nothing is owed to the bus when the process ends, and a flush could wait
// on a daemon that reads no more.
sd_bus* sessionBus() {
  static sd_bus* bus = nullptr;
  if (bus != nullptr && sd_bus_is_open(bus) > 0) return bus;
  if (bus != nullptr) bus = sd_bus_close_unref(bus);
  if (sd_bus_open_user(&bus) < 0) bus = nullptr;
  return bus;
}

struct Pending {
  Answer answer;
  bool done = false;
  std::unique_ptr<sd_bus_slot, SlotUnref> slot;
};

// A D-Bus error is an answer too: the call failed.
int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* pending = static_cast<Pending*>(userdata);
  pending->done = true;
  if (!sd_bus_message_is_method_error(reply, nullptr)) {
    pending->answer.reset(sd_bus_message_ref(reply));
  }
  return 0;
}

bool send(sd_bus* bus, const Call& call, Pending& pending, std::uint64_t timeoutUs) {
  atspi::bus::MessagePtr message = atspi::bus::newCall(bus, call.destination, call.path,
                                                       call.interface, call.member, call.append);
  if (!message) return false;
  sd_bus_message_set_auto_start(message.get(), 0);
  sd_bus_slot* slot = nullptr;
  if (sd_bus_call_async(bus, &slot, message.get(), onReply, &pending, timeoutUs) < 0) {
    return false;
  }
  pending.slot.reset(slot);
  return true;
}

}  // namespace

std::vector<Answer> callAll(const std::vector<Call>& calls) {
  long long timeoutMs = atspi::bus::callTimeoutMs;
  if (auto left = atspi::bus::budgetLeft()) {
    timeoutMs = std::min<long long>(timeoutMs, left->count());
  }
  sd_bus* bus = timeoutMs > 0 ? sessionBus() : nullptr;
  const auto timeoutUs = static_cast<std::uint64_t>(timeoutMs) * 1000;
  std::vector<Pending> pending(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    pending[i].done = bus == nullptr || !send(bus, calls[i], pending[i], timeoutUs);
  }
  // sd-bus expires a call only once the connection runs; the deadline is
  // kept here too, so a bus that never finishes its handshake costs no more.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto allDone = [&pending] {
    return std::all_of(pending.begin(), pending.end(), [](const Pending& p) { return p.done; });
  };
  while (!allDone()) {
    int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) break;
    if (processed > 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    if (sd_bus_wait(bus, static_cast<std::uint64_t>(left.count())) < 0) break;
  }
  // Unanswered calls are dropped with their slots.
  std::vector<Answer> answers;
  for (Pending& one : pending) answers.push_back(std::move(one.answer));
  return answers;
}

}  // namespace focusctl::platform::session
