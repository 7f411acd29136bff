// The whole tool on a random simulated desktop with a random command line:
// one-shot runs write exactly one line of JSON that keeps the reply envelope
// and the reply catalogue, watch starts with one of its state words, and
// every handle handed out is given back exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/dispatch.h"
#include "fuzz_check.h"
#include "platform/sim/sim.h"
#include "watch/watcher.h"

namespace fz = focusctl::fuzz;
namespace sim = focusctl::sim;
using json = nlohmann::json;

namespace {

constexpr std::array<std::string_view, 13> attributeNames = {
    "AXFocusedUIElement", "AXRole",       "AXTitle",    "AXDescription", "AXValue",
    "AXPlaceholderValue", "AXIdentifier", "AXPosition", "AXSize",        "AXSubrole",
    "AXDOMIdentifier",    "AXSelectedTextRange",        "AXSelectedText"};
constexpr std::array<std::string_view, 3> notifications = {"AXFocusedUIElementChanged",
                                                           "AXValueChanged", "AXTitleChanged"};
constexpr std::array<std::string_view, 11> words = {
    "read", "set", "press", "activate", "frontmost", "watch", "insert", "selection", "", "READ",
    "Watch"};
constexpr std::array<std::string_view, 9> texts = {
    "", "AXTextField", "AXComboBox", "Email", " Email\n", "a\"b\\c/d\r\n\t\x01", "\xFF\xFE",
    "\xED\xA0\x80 surrogate", "caf\xC3\xA9 e\xCC\x81"};
constexpr std::array<sim::ResultCode, 10> codes = {0,      0,      0,      -25209, -25200,
                                                   -25202, -25204, -25205, -25211, 1};
constexpr std::array<double, 8> numbers = {0.0,   -0.0,    12.7, -3.9, 1e300, -9.3e18, HUGE_VAL,
                                           std::numeric_limits<double>::quiet_NaN()};
constexpr std::array<sim::Pid, 6> pids = {42, 7, 1, 0, -1, std::numeric_limits<sim::Pid>::max()};
const std::set<std::string> reasons = {"accessibility-denied", "no-focused-element", "invalid-pid",
                                       "no-frontmost-app", "invalid-text", "unknown-command",
                                       "no-selection"};

template <typename Items>
auto pick(FuzzedDataProvider& p, const Items& from) {
  return from[p.ConsumeIntegralInRange<std::size_t>(0, from.size() - 1)];
}

std::string someText(FuzzedDataProvider& p) {
  return p.ConsumeBool() ? std::string(pick(p, texts)) : p.ConsumeRandomLengthString(24);
}
sim::ResultCode someCode(FuzzedDataProvider& p) {
  return p.ConsumeIntegralInRange(0, 7) != 0 ? pick(p, codes)
                                             : p.ConsumeIntegral<sim::ResultCode>();
}
double someNumber(FuzzedDataProvider& p) {
  return p.ConsumeBool() ? pick(p, numbers) : p.ConsumeFloatingPoint<double>();
}
sim::Pid somePid(FuzzedDataProvider& p) {
  return p.ConsumeIntegralInRange(0, 5) != 0 ? pick(p, pids) : p.ConsumeIntegral<sim::Pid>();
}

struct Scenario {
  std::vector<sim::ElementId> elements{sim::systemWide};
  std::vector<sim::Pid> apps;
};

sim::Answer someAnswer(FuzzedDataProvider& p, const Scenario& s) {
  const auto element = [&] { return sim::ElementLink{pick(p, s.elements)}; };
  switch (p.ConsumeIntegralInRange(0, 9)) {
    case 0: return sim::point(someNumber(p), someNumber(p));
    case 1: return sim::size(someNumber(p), someNumber(p));
    case 2: return sim::link(element().id);
    case 3: return sim::otherKind();
    case 4: return sim::noValue();
    case 5: return sim::failure(someCode(p));
    case 6: return sim::Answer{someCode(p), element()};  // a failure with a value
    case 7: return sim::range(p.ConsumeIntegral<std::int64_t>(), p.ConsumeIntegral<std::int64_t>());
    default: return sim::text(someText(p));
  }
}

Scenario buildDesktop(FuzzedDataProvider& p) {
  Scenario s;
  sim::Desktop& desktop = sim::desktop();
  desktop.trusted = p.ConsumeIntegralInRange(0, 3) != 0;
  for (int n = p.ConsumeIntegralInRange(0, 3); n > 0; --n) {
    const sim::Pid pid = somePid(p);
    std::optional<std::string> name, bundle;
    if (p.ConsumeBool()) name = someText(p);
    if (p.ConsumeBool()) bundle = someText(p);
    sim::App& app = sim::addApp(pid, name, bundle);
    app.acceptsActivation = p.ConsumeBool();
    app.observerCode = p.ConsumeBool() ? 0 : someCode(p);
    app.observerDelivered = p.ConsumeIntegralInRange(0, 3) != 0;
    app.observerHasRunLoopSource = p.ConsumeIntegralInRange(0, 3) != 0;
    s.apps.push_back(pid);
    s.elements.push_back(app.element);
  }
  for (int n = p.ConsumeIntegralInRange(0, 3); n > 0; --n) {
    s.elements.push_back(
        sim::addElement(s.apps.empty() || p.ConsumeBool() ? somePid(p) : pick(p, s.apps)));
  }
  for (const sim::ElementId id : s.elements) {
    sim::SimElement& element = sim::element(id);
    if (id != sim::systemWide && p.ConsumeIntegralInRange(0, 3) == 0)
      element.pid = {someCode(p), somePid(p)};
    for (const std::string_view name : attributeNames) {
      if (p.ConsumeIntegralInRange(0, 3) != 0)
        element.attributes[std::string(name)] = someAnswer(p, s);
    }
    element.setValueResult = someCode(p);
    element.performActionResult = someCode(p);
    for (const std::string_view name : notifications) {
      if (p.ConsumeBool()) element.addNotificationResult[std::string(name)] = someCode(p);
      if (p.ConsumeIntegralInRange(0, 3) == 0)
        element.removeNotificationResult[std::string(name)] = someCode(p);
    }
  }
  // Often a desktop that makes sense: an application in front whose element
  // has focus, so that the replies past the gates and "watching" come up.
  if (s.elements.size() > s.apps.size() + 1 && p.ConsumeBool()) {
    const sim::ElementId focused = s.elements.back();
    sim::focus(focused);
    const sim::Pid owner = sim::element(focused).pid.pid;
    desktop.frontmost = owner;
    if (p.ConsumeBool() && std::find(s.apps.begin(), s.apps.end(), owner) != s.apps.end()) {
      sim::App& app = sim::app(owner);
      app.observerCode = 0;
      app.observerDelivered = true;
      sim::element(app.element).addNotificationResult.clear();
      sim::element(focused).addNotificationResult.clear();
    }
  } else if (p.ConsumeIntegralInRange(0, 3) != 0) {
    desktop.frontmost =
        s.apps.empty() || p.ConsumeIntegralInRange(0, 3) == 0 ? somePid(p) : pick(p, s.apps);
  }
  for (int n = p.ConsumeIntegralInRange(0, 2); n > 0; --n)
    desktop.runningApplicationScript.push_back(p.ConsumeBool());
  return s;
}

// The program path and the command word, taken first so that the last bytes
// of an input choose them.
std::vector<std::string> buildCommand(FuzzedDataProvider& p) {
  std::vector<std::string> args;
  const int count = p.ConsumeIntegralInRange(0, 4);
  if (count > 0) args.emplace_back("focusctl");
  if (count > 1)
    args.push_back(p.ConsumeIntegralInRange(0, 7) != 0 ? std::string(pick(p, words)) : someText(p));
  args.resize(static_cast<std::size_t>(count));
  return args;
}

// Fills in the entries after the command word.
void buildArguments(FuzzedDataProvider& p, const Scenario& s, std::vector<std::string>& args) {
  const std::size_t count = args.size();
  args.resize(std::min<std::size_t>(count, 2));
  if (count > 2) {
    switch (p.ConsumeIntegralInRange(0, 3)) {
      case 0: args.push_back(fz::base64Encode(someText(p))); break;
      case 1:
        args.push_back((p.ConsumeBool() ? "+00" : "") +
                       std::to_string(s.apps.empty() ? somePid(p) : pick(p, s.apps)));
        break;
      default: args.push_back(someText(p));
    }
  }
  if (count > 3) args.push_back(someText(p));
  for (std::string& arg : args) arg = arg.substr(0, arg.find('\0'));  // as argv
}

// The envelope every one-shot reply keeps, whatever the command.
void checkEnvelope(const json& reply) {
  FUZZ_CHECK(reply.is_object() && reply.contains("ok") && reply["ok"].is_boolean());
  if (reply.contains("reason")) {
    FUZZ_CHECK(reply["ok"] == false && reply["reason"].is_string());
    const std::string reason = reply["reason"];
    FUZZ_CHECK(reasons.contains(reason));
    const bool gate = reason == "accessibility-denied" || reason == "no-focused-element";
    FUZZ_CHECK(reply.size() == (gate ? 3u : 2u));
    if (gate) FUZZ_CHECK(reply["trusted"] == (reason == "no-focused-element"));
  } else if (reply.contains("trusted")) {
    FUZZ_CHECK(reply.size() == 15 && reply["trusted"] == true && reply["ok"] == true);
  }
}

// One line of JSON in the envelope, past the trust gate only where there is
// one, and no action the command did not ask for. What each reply holds is
// the unit tables' to check.
void checkOneShot(const std::vector<std::string>& args) {
  const sim::Desktop& desktop = sim::desktop();
  for (const sim::OutputChunk& chunk : desktop.output) FUZZ_CHECK(!chunk.lineNow);
  const std::string output = sim::bufferedOutput();
  FUZZ_CHECK(!output.empty() && output.back() == '\n');
  const std::string line = output.substr(0, output.size() - 1);
  FUZZ_CHECK(line.find_first_of("\n\r") == std::string::npos && json::accept(line));
  checkEnvelope(json::parse(line));

  const std::string command = args.size() > 1 ? args[1] : "read";
  FUZZ_CHECK(desktop.writes.size() <= (command == "set" || command == "insert" ? 1u : 0u));
  FUZZ_CHECK(desktop.presses.size() <= (command == "press" ? 1u : 0u));
  FUZZ_CHECK(desktop.activations.size() <= (command == "activate" ? 1u : 0u));
  const bool gated = command != "activate" && command != "frontmost";
  FUZZ_CHECK((sim::callCount("isProcessTrusted") == 1) == gated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  focusctl::resetWatcherState();  // nothing may outlive its desktop
  sim::reset();
  std::vector<std::string> args = buildCommand(provider);
  const Scenario scenario = buildDesktop(provider);
  buildArguments(provider, scenario, args);

  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  FUZZ_CHECK(focusctl::runCommandLine(static_cast<int>(args.size()), argv.data()) == 0);

  // Watch mode under random events is bench/watch_soak's; here its start.
  if (args.size() > 1 && args[1] == "watch") {
    const std::vector<std::string> lines = sim::linesNow();
    FUZZ_CHECK(sim::bufferedOutput().empty() && sim::callCount("isProcessTrusted") == 0);
    FUZZ_CHECK(lines.size() == 1 && (lines[0] == "watching\n" || lines[0] == "fallback\n"));
    FUZZ_CHECK(sim::live(sim::Kind::observer) <= 1 && sim::live(sim::Kind::element) <= 2);
    focusctl::resetWatcherState();
  } else {
    checkOneShot(args);
  }
  FUZZ_CHECK(sim::liveTotal() == 0);
  FUZZ_CHECK(sim::desktop().errors.empty());
  FUZZ_CHECK(sim::desktop().observersReleasedWhileAttached == 0);
  return 0;
}
