// Watch soak: a million mixed events through the watcher on the simulated
// desktop (activations, focus changes, value changes, registrations answered
// with random codes, failing observer creation). Checks that the handles the
// watcher holds stay bounded, that all are given back by resetWatcherState,
// that every event writes the lines it should, and that resident memory does
// not grow in the second half of the run (read from /proc, so Linux only).
//
//   watch_soak [EVENTS] [SEED]     (default 1000000 events, seed 1)
//
// The simulator keeps a record of every handle it ever handed out (so that a
// late use is caught), so the run is cut into epochs: after each, the watcher
// is reset, checked to hold nothing, and the simulator starts afresh.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/dispatch.h"
#include "platform/sim/sim.h"
#include "watch/watcher.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace sim = focusctl::sim;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool memoryMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool memoryMeasurable = false;
#else
constexpr bool memoryMeasurable = true;
#endif
#else
constexpr bool memoryMeasurable = true;
#endif

constexpr long eventsPerEpoch = 1000;
constexpr int appCount = 4;
constexpr int fieldsPerApp = 3;
constexpr sim::Pid firstPid = 101;
constexpr sim::Pid notRunning = 999;
constexpr std::array<sim::ResultCode, 8> registrationCodes = {
    0, 0, 0, -25209, -25209, -25200, -25204, -25207};
constexpr std::string_view focusChanged = "AXFocusedUIElementChanged";
constexpr std::string_view valueChanged = "AXValueChanged";

enum class Event {
  marker,
  activation,
  focusChange,
  valueChange,
  staleNotification
};

struct Figures {
  long events = 0;
  long epochs = 0;
  long watching = 0;
  long fallback = 0;
  long ax = 0;
  int maxObservers = 0;
  int maxSources = 0;
  int maxElements = 0;
  int maxApplications = 0;
  std::vector<std::string> broken;  // the first few bounds that were broken
};

struct Soak {
  std::mt19937_64 random;
  Figures figures;
  long epochEnd = 0;  // events counted when the current epoch ends
  std::vector<std::vector<sim::ElementId>> fields;  // per app
  std::vector<Event> queued;  // kinds of the queued events, in order
  std::size_t nextQueued = 0;

  int below(int n) {
    return static_cast<int>(random() % static_cast<std::uint64_t>(n));
  }
  bool chance(int percent) { return below(100) < percent; }
  sim::Pid pidOf(int app) const { return firstPid + app; }

  void fail(std::string what) {
    if (figures.broken.size() < 10) figures.broken.push_back(std::move(what));
  }

  void buildDesktop() {
    sim::reset();
    sim::desktop().recordCalls = false;
    fields.assign(appCount, {});
    for (int a = 0; a < appCount; ++a) {
      sim::addApp(pidOf(a), "App " + std::to_string(a),
                  "org.example.app" + std::to_string(a));
      for (int f = 0; f < fieldsPerApp; ++f) {
        const sim::ElementId field = sim::addElement(pidOf(a));
        sim::element(field).attributes["AXRole"] = sim::text("AXTextField");
        fields[a].push_back(field);
      }
      sim::focus(fields[a][0]);
    }
    sim::desktop().frontmost = pidOf(0);
  }

  // Random answers for the next requests: registrations, observer creation.
  void scramble() {
    if (chance(20)) {
      const int a = below(appCount);
      const sim::ElementId target =
          chance(50) ? sim::app(pidOf(a)).element
                     : fields[a][static_cast<std::size_t>(below(fieldsPerApp))];
      const std::string_view name = chance(50) ? focusChanged : valueChanged;
      sim::element(target).addNotificationResult[std::string(name)] =
          registrationCodes[static_cast<std::size_t>(
              below(registrationCodes.size()))];
      if (chance(20))
        sim::element(target).removeNotificationResult[std::string(name)] =
            -25210;
    }
    if (chance(5)) {
      sim::App& app = sim::app(pidOf(below(appCount)));
      app.observerCode = chance(70) ? 0 : -25204;
      app.observerDelivered = chance(90);
      app.observerHasRunLoopSource = chance(90);
    }
  }

  void queueNext() {
    scramble();
    const sim::Pid front = sim::desktop().frontmost.value_or(notRunning);
    const int frontApp = front - firstPid;
    const bool frontRunning = frontApp >= 0 && frontApp < appCount;
    const int roll = below(100);
    if (roll < 15 || !frontRunning) {
      sim::queueActivation(chance(10) ? notRunning : pidOf(below(appCount)));
      queued.push_back(Event::activation);
    } else if (roll < 45) {
      const sim::ElementId appElement = sim::app(front).element;
      if (chance(10)) {
        sim::element(appElement).attributes["AXFocusedUIElement"] =
            chance(50) ? sim::noValue() : sim::failure(-25212);
      } else {
        sim::focus(fields[static_cast<std::size_t>(frontApp)]
                         [static_cast<std::size_t>(below(fieldsPerApp))]);
      }
      sim::queueNotification(front, appElement, std::string(focusChanged));
      queued.push_back(Event::focusChange);
    } else if (roll < 95) {
      sim::queueNotification(
          front,
          fields[static_cast<std::size_t>(frontApp)]
                [static_cast<std::size_t>(below(fieldsPerApp))],
          std::string(valueChanged));
      queued.push_back(Event::valueChange);
    } else {
      // From an application that is not being watched: no line.
      const int other = (frontApp + 1 + below(appCount - 1)) % appCount;
      sim::queueNotification(pidOf(other),
                             fields[static_cast<std::size_t>(other)][0],
                             std::string(valueChanged));
      queued.push_back(Event::staleNotification);
    }
  }

  // Runs after every event: checks the lines it wrote and what the watcher
  // holds, then queues the next event until the epoch is over.
  void afterEvent() {
    sim::Desktop& desktop = sim::desktop();
    std::vector<char> lines;  // w, f or a
    for (const sim::OutputChunk& chunk : desktop.output) {
      if (!chunk.lineNow) fail("output not written as a line");
      if (chunk.bytes == "watching\n") {
        lines.push_back('w');
        ++figures.watching;
      } else if (chunk.bytes == "fallback\n") {
        lines.push_back('f');
        ++figures.fallback;
      } else if (chunk.bytes == "ax\n") {
        lines.push_back('a');
        ++figures.ax;
      } else {
        fail("unexpected output line");
      }
    }
    desktop.output.clear();  // keeps the capture from growing

    const std::string got(lines.begin(), lines.end());
    const bool state = got == "w" || got == "f";
    bool expected = false;
    switch (queued[nextQueued++]) {
      case Event::marker:
      case Event::activation:
        expected = state;
        break;
      case Event::focusChange:
        expected = got.empty() || got == "wa" || got == "fa";
        break;
      case Event::valueChange:
        expected = got.empty() || got == "a";
        break;
      case Event::staleNotification:
        expected = got.empty();
        break;
    }
    if (!expected) fail("event wrote \"" + got + "\"");
    if (queued[nextQueued - 1] != Event::marker) ++figures.events;

    checkHeld();
    if (figures.events < epochEnd) queueNext();
  }

  void checkHeld() {
    const int observers = sim::live(sim::Kind::observer);
    const int sources = sim::live(sim::Kind::runLoopSource);
    const int elements = sim::live(sim::Kind::element);
    const int applications = sim::live(sim::Kind::application);
    figures.maxObservers = std::max(figures.maxObservers, observers);
    figures.maxSources = std::max(figures.maxSources, sources);
    figures.maxElements = std::max(figures.maxElements, elements);
    figures.maxApplications = std::max(figures.maxApplications, applications);
    if (observers > 1 || sources > 1 || elements > 2 || applications > 0) {
      fail("watcher holds too much between events");
    }
    const sim::Desktop& desktop = sim::desktop();
    if (!desktop.errors.empty())
      fail("handle misuse: " + desktop.errors.front());
    if (desktop.observersReleasedWhileAttached != 0)
      fail("observer released while attached");
  }

  void runEpoch(long events) {
    buildDesktop();
    queued.clear();
    nextQueued = 0;
    epochEnd = figures.events + events;
    sim::desktop().afterEvent = [this] { afterEvent(); };
    sim::queueAction([] {});  // closes the first rebuild's line
    queued.push_back(Event::marker);
    const char* const argv[] = {"focusctl", "watch", nullptr};
    focusctl::runCommandLine(2, argv);
    checkHeld();
    focusctl::resetWatcherState();
    if (sim::liveTotal() != 0)
      fail("handles still held after resetWatcherState");
    if (!sim::desktop().errors.empty())
      fail("handle misuse: " + sim::desktop().errors.front());
    sim::desktop().afterEvent = nullptr;
    sim::reset();
    ++figures.epochs;
  }
};

long residentKiB(const char* field) {
#ifdef __GLIBC__
  // Hand freed memory back first, so that what is measured is what is still
  // in use rather than what the allocator keeps cached.
  malloc_trim(0);
#endif
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0)
      return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long total = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
  const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
  if (total < 2 * eventsPerEpoch) {
    std::fprintf(stderr, "at least %ld events\n", 2 * eventsPerEpoch);
    return 2;
  }
  Soak soak;
  soak.random.seed(seed);
  const auto started = std::chrono::steady_clock::now();

  // Resident memory is sampled every 1 % of the run, so that the allocator
  // is in the same steady state at the midpoint as at the end.
  long midKiB = 0;
  long secondHalfMaxKiB = 0;
  const long half = total / 2;
  const long sampleEvery = std::max(eventsPerEpoch, total / 100);
  long nextSample = sampleEvery;
  while (soak.figures.events < total) {
    soak.runEpoch(std::min(eventsPerEpoch, total - soak.figures.events));
    if (soak.figures.events < nextSample && soak.figures.events < total)
      continue;
    nextSample += sampleEvery;
    const long sample = residentKiB("VmRSS");
    if (sample <= 0) {
      std::fprintf(
          stderr, "resident memory cannot be read (needs /proc/self/status)\n");
      return 2;
    }
    if (midKiB == 0 && soak.figures.events >= half) midKiB = sample;
    if (midKiB != 0) secondHalfMaxKiB = std::max(secondHalfMaxKiB, sample);
  }
  const long endKiB = residentKiB("VmRSS");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();
  const auto percent = [midKiB](long kib) {
    return 100.0 * static_cast<double>(kib - midKiB) /
           static_cast<double>(midKiB);
  };
  // AddressSanitizer keeps freed memory in quarantine, so there the figures
  // are printed but not held to the bound.
  if (memoryMeasurable &&
      (percent(endKiB) >= 1.0 || percent(secondHalfMaxKiB) >= 1.0)) {
    soak.fail("resident memory grew in the second half");
  }

  const Figures& f = soak.figures;
  std::printf("events            %ld in %ld epochs, %.1f s (%.0f events/s)\n",
              f.events, f.epochs, seconds,
              static_cast<double>(f.events) / seconds);
  std::printf("lines             watching %ld, fallback %ld, ax %ld\n",
              f.watching, f.fallback, f.ax);
  std::printf(
      "held at most      observers %d, run-loop sources %d, elements %d, "
      "applications %d\n",
      f.maxObservers, f.maxSources, f.maxElements, f.maxApplications);
  std::printf(
      "resident memory   midpoint %ld KiB, end %ld KiB (%+.2f %%), second-half "
      "highest %ld KiB (%+.2f %%); %s\n",
      midKiB, endKiB, percent(endKiB), secondHalfMaxKiB,
      percent(secondHalfMaxKiB),
      memoryMeasurable ? "bound 1 %" : "not bounded under AddressSanitizer");
  for (const std::string& broken : f.broken)
    std::printf("BROKEN: %s\n", broken.c_str());
  return f.broken.empty() ? 0 : 1;
}
