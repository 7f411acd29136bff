// The whole tool on a random simulated desktop with a random command line:
// one-shot runs write exactly one line of JSON that keeps the reply envelope
// and the reply catalogue, watch writes only its three words, and every
// handle handed out is given back exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/dispatch.h"
#include "platform/sim/sim.h"
#include "reference_text.h"
#include "watch/watcher.h"

namespace fz = focusctl::fuzz;
namespace sim = focusctl::sim;
using json = nlohmann::json;
using Keys = std::set<std::string>;

namespace {

constexpr std::array<std::string_view, 11> attributeNames = {
    "AXFocusedUIElement", "AXRole",         "AXTitle",
    "AXDescription",      "AXValue",        "AXPlaceholderValue",
    "AXIdentifier",       "AXPosition",     "AXSize",
    "AXSubrole",          "AXDOMIdentifier"};
constexpr std::array<std::string_view, 3> notifications = {
    "AXFocusedUIElementChanged", "AXValueChanged", "AXTitleChanged"};
constexpr std::array<std::string_view, 9> words = {
    "read",  "set", "press", "activate", "frontmost",
    "watch", "",    "READ",  "Watch"};
constexpr std::array<std::string_view, 9> texts = {"",
                                                   "AXTextField",
                                                   "AXComboBox",
                                                   "Email",
                                                   " Email\n",
                                                   "a\"b\\c/d\r\n\t\x01",
                                                   "\xFF\xFE",
                                                   "\xED\xA0\x80 surrogate",
                                                   "caf\xC3\xA9 e\xCC\x81"};
constexpr std::array<sim::ResultCode, 10> codes = {
    0, 0, 0, -25209, -25200, -25202, -25204, -25205, -25211, 1};
constexpr std::array<double, 8> numbers = {
    0.0,
    -0.0,
    12.7,
    -3.9,
    1e300,
    -9.3e18,
    std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN()};
constexpr std::array<sim::Pid, 6> pids = {
    42, 7, 1, 0, -1, std::numeric_limits<sim::Pid>::max()};
const std::set<std::string> reasons = {
    "accessibility-denied", "no-focused-element", "invalid-pid",
    "no-frontmost-app",     "invalid-text",       "unknown-command"};

template <typename T, std::size_t N>
T pick(FuzzedDataProvider& p, const std::array<T, N>& from) {
  return from[p.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

std::string someText(FuzzedDataProvider& p) {
  return p.ConsumeBool() ? std::string(pick(p, texts))
                         : p.ConsumeRandomLengthString(24);
}
sim::ResultCode someCode(FuzzedDataProvider& p) {
  return p.ConsumeIntegralInRange(0, 7) != 0
             ? pick(p, codes)
             : p.ConsumeIntegral<sim::ResultCode>();
}
double someNumber(FuzzedDataProvider& p) {
  return p.ConsumeBool() ? pick(p, numbers) : p.ConsumeFloatingPoint<double>();
}
sim::Pid somePid(FuzzedDataProvider& p) {
  return p.ConsumeIntegralInRange(0, 5) != 0 ? pick(p, pids)
                                             : p.ConsumeIntegral<sim::Pid>();
}

struct Scenario {
  std::vector<sim::ElementId> elements{sim::systemWide};
  std::vector<sim::Pid> apps;
  std::optional<bool>
      firstLookup;  // the first scripted runningApplication answer
};

sim::Answer someAnswer(FuzzedDataProvider& p, const Scenario& s) {
  const auto element = [&] {
    return sim::ElementLink{s.elements[p.ConsumeIntegralInRange<std::size_t>(
        0, s.elements.size() - 1)]};
  };
  switch (p.ConsumeIntegralInRange(0, 8)) {
    case 0:
      return sim::point(someNumber(p), someNumber(p));
    case 1:
      return sim::size(someNumber(p), someNumber(p));
    case 2:
      return sim::link(element().id);
    case 3:
      return sim::otherKind();
    case 4:
      return sim::noValue();
    case 5:
      return sim::failure(someCode(p));
    case 6:
      return sim::Answer{someCode(p),
                         element()};  // a failure that still hands out a value
    default:
      return sim::text(someText(p));
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
        sim::addElement(s.apps.empty() || p.ConsumeBool()
                            ? somePid(p)
                            : s.apps[p.ConsumeIntegralInRange<std::size_t>(
                                  0, s.apps.size() - 1)]));
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
      if (p.ConsumeBool())
        element.addNotificationResult[std::string(name)] = someCode(p);
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
    if (p.ConsumeBool() &&
        std::find(s.apps.begin(), s.apps.end(), owner) != s.apps.end()) {
      sim::App& app = sim::app(owner);
      app.observerCode = 0;
      app.observerDelivered = true;
      sim::element(app.element).addNotificationResult.clear();
      sim::element(focused).addNotificationResult.clear();
    }
  } else if (p.ConsumeIntegralInRange(0, 3) != 0) {
    desktop.frontmost = s.apps.empty() || p.ConsumeIntegralInRange(0, 3) == 0
                            ? somePid(p)
                            : s.apps[p.ConsumeIntegralInRange<std::size_t>(
                                  0, s.apps.size() - 1)];
  }
  for (int n = p.ConsumeIntegralInRange(0, 2); n > 0; --n)
    desktop.runningApplicationScript.push_back(p.ConsumeBool());
  if (!desktop.runningApplicationScript.empty())
    s.firstLookup = desktop.runningApplicationScript.front();
  return s;
}

// The program path and the command word, taken first so that the last bytes
// of an input choose them.
std::vector<std::string> buildCommand(FuzzedDataProvider& p) {
  std::vector<std::string> args;
  const int count = p.ConsumeIntegralInRange(0, 4);
  if (count > 0) args.emplace_back("focusctl");
  if (count > 1)
    args.push_back(p.ConsumeIntegralInRange(0, 7) != 0
                       ? std::string(pick(p, words))
                       : someText(p));
  args.resize(static_cast<std::size_t>(count));
  return args;
}

// Fills in the entries after the command word.
void buildArguments(FuzzedDataProvider& p, const Scenario& s,
                    std::vector<std::string>& args) {
  const std::size_t count = args.size();
  args.resize(std::min<std::size_t>(count, 2));
  if (count > 2) {
    switch (p.ConsumeIntegralInRange(0, 3)) {
      case 0:
        args.push_back(fz::referenceBase64Encode(someText(p)));
        break;
      case 1:
        args.push_back(
            (p.ConsumeBool() ? "+00" : "") +
            std::to_string(s.apps.empty()
                               ? somePid(p)
                               : s.apps[p.ConsumeIntegralInRange<std::size_t>(
                                     0, s.apps.size() - 1)]));
        break;
      default:
        args.push_back(someText(p));
    }
  }
  if (count > 3) args.push_back(someText(p));
  for (std::string& arg : args) arg = fz::uptoNul(arg);
}

Keys keysOf(const json& reply) {
  Keys keys;
  for (const auto& member : reply.items()) keys.insert(member.key());
  return keys;
}

std::optional<std::int32_t> referencePid(const std::string& text) {
  std::string_view digits(text);
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-'))
    digits.remove_prefix(1);
  if (digits.empty() ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  try {
    const long long value = std::stoll(text[0] == '+' ? text.substr(1) : text);
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

// The envelope every one-shot reply keeps, whatever the command.
void checkEnvelope(const json& reply) {
  FUZZ_CHECK(reply.is_object());
  for (const auto& member : reply.items()) {
    const json& value = member.value();
    FUZZ_CHECK(value.is_boolean() || value.is_string() ||
               value.is_number_integer());
    if (value.is_number_integer()) {
      const auto number = value.get<long long>();
      FUZZ_CHECK(number >= std::numeric_limits<std::int32_t>::min() &&
                 number <= std::numeric_limits<std::int32_t>::max());
    }
  }
  FUZZ_CHECK(reply.contains("ok") && reply["ok"].is_boolean());
  const Keys keys = keysOf(reply);
  if (reply.contains("reason")) {
    FUZZ_CHECK(reply["ok"] == false && reply["reason"].is_string());
    const std::string reason = reply["reason"];
    FUZZ_CHECK(reasons.contains(reason));
    if (reason == "accessibility-denied" || reason == "no-focused-element") {
      FUZZ_CHECK(keys == Keys({"ok", "reason", "trusted"}));
      FUZZ_CHECK(reply["trusted"] == (reason == "no-focused-element"));
    } else {
      FUZZ_CHECK(keys == Keys({"ok", "reason"}));
    }
  } else if (reply.contains("trusted")) {
    FUZZ_CHECK(keys.size() == 15 && reply["trusted"] == true &&
               reply["ok"] == true);
  }
}

bool refusedWith(const json& reply, std::string_view reason) {
  return reply.contains("reason") && reply["reason"] == reason;
}

void checkActionReply(const json& reply, std::string_view method,
                      sim::ResultCode scripted) {
  FUZZ_CHECK(keysOf(reply) == Keys({"ok", "method", "error"}));
  FUZZ_CHECK(reply["method"] == method && reply["error"].is_number_integer());
  FUZZ_CHECK(reply["ok"] == (reply["error"] == 0));
  FUZZ_CHECK(reply["error"] == scripted);
}

void checkOneShot(const std::vector<std::string>& args, const Scenario& s) {
  const sim::Desktop& desktop = sim::desktop();
  for (const sim::OutputChunk& chunk : desktop.output)
    FUZZ_CHECK(!chunk.lineNow);
  const std::string output = sim::bufferedOutput();
  FUZZ_CHECK(!output.empty() && output.back() == '\n');
  const std::string line = output.substr(0, output.size() - 1);
  FUZZ_CHECK(line.find_first_of("\n\r") == std::string::npos);
  FUZZ_CHECK(json::accept(line));
  const json reply = json::parse(line);
  checkEnvelope(reply);

  const std::string command = args.size() > 1 ? args[1] : "read";
  const std::optional<std::string> argument =
      args.size() > 2 ? std::optional<std::string>(args[2]) : std::nullopt;
  const Keys keys = keysOf(reply);
  if (command != "set") FUZZ_CHECK(desktop.writes.empty());
  if (command != "press") FUZZ_CHECK(desktop.presses.empty());
  if (command != "activate") FUZZ_CHECK(desktop.activations.empty());
  const bool gated = command != "activate" && command != "frontmost";
  FUZZ_CHECK((sim::callCount("isProcessTrusted") == 1) == gated);

  if (command == "activate") {
    const std::optional<std::int32_t> pid =
        argument ? referencePid(*argument) : std::nullopt;
    if (refusedWith(reply, "invalid-pid")) {
      const bool running =
          pid &&
          std::find(s.apps.begin(), s.apps.end(), *pid) != s.apps.end() &&
          s.firstLookup.value_or(true);
      FUZZ_CHECK(!running && desktop.activations.empty());
      return;
    }
    FUZZ_CHECK(keys == Keys({"ok", "method", "pid"}) &&
               reply["method"] == "app-activate");
    FUZZ_CHECK(pid && reply["pid"] == *pid);
    FUZZ_CHECK(reply["ok"] == sim::app(*pid).acceptsActivation);
    FUZZ_CHECK(desktop.activations.size() == 1 &&
               desktop.activations[0].options == 2);
  } else if (command == "frontmost") {
    if (refusedWith(reply, "no-frontmost-app")) return;
    FUZZ_CHECK(keys == Keys({"ok", "pid", "appName", "bundleID"}) &&
               reply["ok"] == true);
    const sim::App& app = sim::app(reply["pid"].get<sim::Pid>());
    FUZZ_CHECK(reply["appName"] ==
               fz::referenceSanitize(app.name.value_or("")));
    FUZZ_CHECK(reply["bundleID"] ==
               fz::referenceSanitize(app.bundleId.value_or("")));
  } else if (!desktop.trusted) {
    FUZZ_CHECK(refusedWith(reply, "accessibility-denied"));
  } else if (refusedWith(reply, "no-focused-element")) {
    FUZZ_CHECK(desktop.writes.empty() && desktop.presses.empty());
  } else if (command == "read") {
    FUZZ_CHECK(keys ==
               Keys({"ok", "trusted", "pid", "appName", "bundleID", "role",
                     "identifier", "title", "position", "size", "description",
                     "subrole", "domIdentifier", "text", "placeholder"}));
    for (const auto& member : reply.items()) {
      if (member.key() != "ok" && member.key() != "trusted" &&
          member.key() != "pid") {
        FUZZ_CHECK(member.value().is_string());
      }
    }
  } else if (command == "set") {
    const std::optional<std::string> text =
        argument ? fz::referenceBase64Decode(*argument) : std::nullopt;
    if (!text || !fz::referenceWellFormed(*text)) {
      FUZZ_CHECK(refusedWith(reply, "invalid-text") && desktop.writes.empty());
      return;
    }
    FUZZ_CHECK(desktop.writes.size() == 1 &&
               desktop.writes[0].attribute == "AXValue");
    FUZZ_CHECK(desktop.writes[0].text == *text);
    checkActionReply(reply, "ax",
                     sim::element(desktop.writes[0].element).setValueResult);
  } else if (command == "press") {
    FUZZ_CHECK(desktop.presses.size() == 1 &&
               desktop.presses[0].action == "AXPress");
    checkActionReply(
        reply, "ax-press",
        sim::element(desktop.presses[0].element).performActionResult);
  } else {
    FUZZ_CHECK(refusedWith(reply, "unknown-command"));
  }
}

// Events for watch mode; the run loop serves them after the first rebuild.
enum class Event { activation, focusChanged, otherNotification };
enum class Line { watching, fallback, ax, other };

std::vector<Event> queueWatchEvents(FuzzedDataProvider& p, const Scenario& s) {
  std::vector<Event> events;
  sim::queueAction([] {});  // marks where the first rebuild's output ends
  for (int n = p.ConsumeIntegralInRange(0, 6); n > 0; --n) {
    const sim::Pid pid = s.apps.empty() || p.ConsumeIntegralInRange(0, 4) == 0
                             ? somePid(p)
                             : s.apps[p.ConsumeIntegralInRange<std::size_t>(
                                   0, s.apps.size() - 1)];
    if (p.ConsumeIntegralInRange(0, 2) == 0) {
      sim::queueActivation(pid);
      events.push_back(Event::activation);
    } else {
      const std::string_view name = pick(p, notifications);
      sim::Pid from = pid;
      sim::ElementId target = s.elements[p.ConsumeIntegralInRange<std::size_t>(
          0, s.elements.size() - 1)];
      // Mostly from the application in front, about its own element or the
      // last element (the focused one on a desktop that makes sense), so
      // that callbacks do run.
      const std::optional<sim::Pid> front = sim::desktop().frontmost;
      if (front && p.ConsumeIntegralInRange(0, 3) != 0) {
        from = *front;
        const bool running =
            std::find(s.apps.begin(), s.apps.end(), from) != s.apps.end();
        target = name == notifications[0] && running ? sim::app(from).element
                                                     : s.elements.back();
      }
      sim::queueNotification(from, target, std::string(name));
      events.push_back(name == notifications[0] ? Event::focusChanged
                                                : Event::otherNotification);
    }
  }
  return events;
}

void checkWatch(const std::vector<Event>& events,
                const std::vector<std::size_t>& marks) {
  const sim::Desktop& desktop = sim::desktop();
  FUZZ_CHECK(sim::bufferedOutput().empty());
  FUZZ_CHECK(sim::callCount("isProcessTrusted") == 0);
  FUZZ_CHECK(marks.size() == events.size() + 1);
  // Lines of one event, each one of the three words.
  const auto lines = [&](std::size_t from, std::size_t to) {
    std::vector<Line> out;
    for (std::size_t i = from; i < to; ++i) {
      FUZZ_CHECK(desktop.output[i].lineNow);
      const std::string& bytes = desktop.output[i].bytes;
      const Line line = bytes == "watching\n"   ? Line::watching
                        : bytes == "fallback\n" ? Line::fallback
                        : bytes == "ax\n"       ? Line::ax
                                                : Line::other;
      FUZZ_CHECK(line != Line::other);
      out.push_back(line);
    }
    return out;
  };
  const auto state = [](Line line) {
    return line == Line::watching || line == Line::fallback;
  };
  const std::vector<Line> start = lines(0, marks[0]);
  FUZZ_CHECK(start.size() == 1 && state(start[0]));
  for (std::size_t k = 0; k < events.size(); ++k) {
    const std::vector<Line> got = lines(marks[k], marks[k + 1]);
    switch (events[k]) {
      case Event::activation:
        FUZZ_CHECK(got.size() == 1 && state(got[0]));
        break;
      case Event::focusChanged:
        FUZZ_CHECK(got.empty() ||
                   (got.size() == 2 && state(got[0]) && got[1] == Line::ax));
        break;
      case Event::otherNotification:
        FUZZ_CHECK(got.empty() || (got.size() == 1 && got[0] == Line::ax));
        break;
    }
  }
  // What the watcher holds between events.
  FUZZ_CHECK(sim::live(sim::Kind::observer) <= 1 &&
             sim::live(sim::Kind::runLoopSource) <= 1);
  FUZZ_CHECK(sim::live(sim::Kind::element) <= 2 &&
             sim::live(sim::Kind::application) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider provider(data, size);
  focusctl::resetWatcherState();  // nothing may outlive the desktop it came
                                  // from
  sim::reset();
  std::vector<std::string> args = buildCommand(provider);
  const Scenario scenario = buildDesktop(provider);
  buildArguments(provider, scenario, args);
  const bool watch = args.size() > 1 && args[1] == "watch";
  std::vector<Event> events;
  std::vector<std::size_t> marks;
  if (watch) {
    events = queueWatchEvents(provider, scenario);
    sim::desktop().afterEvent = [&marks] {
      marks.push_back(sim::desktop().output.size());
    };
  }

  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  FUZZ_CHECK(focusctl::runCommandLine(static_cast<int>(args.size()),
                                      argv.data()) == 0);

  if (watch) {
    checkWatch(events, marks);
    sim::desktop().afterEvent = nullptr;
    focusctl::resetWatcherState();
  } else {
    checkOneShot(args, scenario);
  }
  FUZZ_CHECK(sim::liveTotal() == 0);
  FUZZ_CHECK(sim::desktop().errors.empty());
  FUZZ_CHECK(sim::desktop().observersReleasedWhileAttached == 0);
  return 0;
}
