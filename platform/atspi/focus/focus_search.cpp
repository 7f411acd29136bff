#include "platform/atspi/focus/focus_search.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/atspi/accessible/application_pids.h"
#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/liveness.h"
#include "platform/atspi/accessible/window_origin.h"
#include "platform/atspi/bus/bounded_map.h"
#include "platform/atspi/bus/freshness.h"
#include "platform/atspi/desktop/x11_desktop.h"
#include "platform/atspi/focus/focus_walk.h"
#include "platform/atspi/focus/registered_applications.h"

namespace focusctl::platform::atspi {
namespace {

using calls::StateBits;

struct Window {
  ObjectRef window;
  StateBits states = 0;
};

struct ActiveWindow {
  ResultCode code = code::noValue;
  // With code::success, the ACTIVE window. With code::noValue: the
  // application answered but none of its windows says ACTIVE; these are its
  // windows then, in the order they may hold the focus.
  std::vector<Window> windows;
};

// Where no window says ACTIVE (GTK 4 leaves it off a dialog), the one the
// window manager made active comes first, found by its title; then modal
// ones, which hold the keyboard while they are shown.
void orderInactive(std::vector<Window>& windows, Pid pid) {
  if (windows.size() < 2) return;
  std::optional<std::string> title;
  if (std::optional<x11::WindowId> active =
          pid > 0 ? x11::knownActiveWindowOf(pid) : std::nullopt) {
    title = x11::windowTitle(*active);
  }
  std::vector<bus::Reply<std::string>> names;
  if (title && !title->empty()) {
    for (const Window& window : windows) names.push_back(calls::name(window.window));
  }
  std::vector<std::pair<int, std::size_t>> ranks;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const std::string* name = names.empty() ? nullptr : names[i].get();
    int rank = name != nullptr && *name == *title                           ? 0
               : calls::hasState(windows[i].states, ATSPI_STATE_MODAL) ? 1
                                                                           : 2;
    ranks.emplace_back(rank, i);
  }
  std::stable_sort(ranks.begin(), ranks.end());
  std::vector<Window> ordered;
  for (const auto& [rankOf, index] : ranks) ordered.push_back(std::move(windows[index]));
  windows = std::move(ordered);
}

// The most windows of one application looked at; real ones have a few.
constexpr std::size_t maxWindows = 256;

// The windows of each application and their states, all asked together. An
// application that hangs fails them at once (bus::isHung).
std::vector<ActiveWindow> activeWindowsOf(const std::vector<ObjectRef>& applications) {
  auto windowLists = childrenOfEach(applications);
  std::vector<std::vector<bus::Reply<StateBits>>> states(applications.size());
  for (std::size_t a = 0; a < applications.size(); ++a) {
    if (!windowLists[a]) continue;
    if (windowLists[a]->size() > maxWindows) windowLists[a]->resize(maxWindows);
    for (const ObjectRef& window : *windowLists[a]) states[a].push_back(calls::states(window));
  }
  // The one window of the one application asked about is where its focus
  // is searched, ACTIVE or not (unless it is hidden): the query goes out
  // with its state, a round trip earlier.
  if (applications.size() == 1 && windowLists[0] && windowLists[0]->size() == 1) {
    askFocusedByCollection(windowLists[0]->front());
  }
  std::vector<ActiveWindow> found(applications.size());
  for (std::size_t a = 0; a < applications.size(); ++a) {
    ActiveWindow& result = found[a];
    if (!windowLists[a]) {
      result.code = failureCode(applications[a]);
      continue;
    }
    for (std::size_t w = 0; w < windowLists[a]->size(); ++w) {
      const StateBits* bits = states[a][w].get();
      if (bits == nullptr) continue;
      Window window{(*windowLists[a])[w], *bits};
      if (calls::hasState(*bits, ATSPI_STATE_ACTIVE)) {
        result.code = code::success;
        result.windows = {std::move(window)};
        break;
      }
      if (calls::hasState(*bits, ATSPI_STATE_VISIBLE) &&
          !calls::hasState(*bits, ATSPI_STATE_DEFUNCT)) {
        result.windows.push_back(std::move(window));
      }
    }
  }
  return found;
}

FocusAnswer focusInWindow(const Window& window, Pid pid) {
  std::optional<FocusWalk> found = focusedByCollection(window.window);
  bool collection = found.has_value();
  if (!found) found = focusedByWalk(window.window);
  // Toolkits may mark a container FOCUSED together with the widget inside
  // it that really has the focus (Qt: an editable combo box and its line
  // edit, a dialog's button box and its default button), and stand-ins
  // elsewhere.
  ObjectRef deepest = deepestFocused(*found);
  // An open menu holds the keyboard; GTK 3 marks its current item SELECTED.
  if (deepest.isNull() && collection) deepest = deepestFocused(selectedMenuItems(window.window));
  // A FOCUSED window with nothing focused inside has the focus itself.
  if (deepest.isNull() && calls::hasState(window.states, ATSPI_STATE_FOCUSED)) {
    deepest = window.window;
  }
  if (deepest.isNull()) return {code::noValue, {}, pid};
  noteFoundInWindow(deepest, window.window);
  return {code::success, std::move(deepest), pid};
}

// By application (bus name), for the applications seen last.
BoundedMap<std::string, std::string>& knownFocus() {
  static auto& focus = *new BoundedMap<std::string, std::string>(256);
  return focus;
}

// Lookups that found no focus, by application: one command may ask for the
// focus of one application twice (on the desktop, then through its
// application element), and a walk that came to nothing is not worth
// repeating while nothing may have changed.
FreshMap<std::string, FocusAnswer>& recentMisses() {
  static FreshMap<std::string, FocusAnswer> misses;
  return misses;
}

// The first application with an ACTIVE window, found without X11 (a null
// root when none has one), and that window.
struct ActiveFound : ActiveApplication {
  ActiveWindow window;
};

const ActiveFound& activeWithoutX11() {
  static auto& known = *new Fresh<ActiveFound>;
  if (const ActiveFound* found = known.get()) return *found;
  ActiveFound found;
  std::vector<ObjectRef> roots = applicationRoots();
  // Every application's windows asked at once.
  std::vector<ActiveWindow> windows = activeWindowsOf(roots);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (windows[i].code != code::success) continue;
    Pid pid = applicationPid(roots[i]);
    if (pid <= 0) continue;
    found = {{roots[i], pid}, std::move(windows[i])};
    break;
  }
  return known.set(std::move(found));
}

// The focus in the application, in its active window when that is known
// already.
FocusAnswer lookUpFocus(const ObjectRef& application, Pid pid, const ActiveWindow* knownWindow) {
  const std::string& busName = application.bus;
  if (const FocusAnswer* miss = recentMisses().find(busName)) {
    return {miss->code, {}, pid, miss->windowSaysActive};
  }
  // Travels with the lookup's first question instead of after its last.
  askForName(application);
  ActiveWindow looked;
  if (knownWindow == nullptr) {
    looked = std::move(activeWindowsOf({application}).front());
    if (looked.code == code::noValue) orderInactive(looked.windows, pid);
    knownWindow = &looked;
  }
  // In the ACTIVE window, or where none says ACTIVE, in the first of the
  // others holding a FOCUSED element.
  FocusAnswer answer{knownWindow->code, {}, pid};
  for (const Window& window : knownWindow->windows) {
    answer = focusInWindow(window, pid);
    if (answer.code == code::success) break;
  }
  answer.windowSaysActive = knownWindow->code != code::noValue;
  // What the ACTIVE window holds is the application's focus, even none.
  if (knownWindow->code == code::success || answer.code == code::success) {
    noteFocus(application.bus, answer.element.path);
  }
  if (answer.code != code::success && !busName.empty()) recentMisses().put(busName, answer);
  return answer;
}

}  // namespace

FocusAnswer focusInApplication(const ObjectRef& application, Pid pid) {
  return lookUpFocus(application, pid, nullptr);
}

FocusAnswer focusOnDesktop() {
  // The X11 active window speaks only for X11 applications: under XWayland
  // it is 0 while a Wayland application is in front, and AT-SPI decides.
  Pid pid = x11::activeWindowPid().value_or(0);
  FocusAnswer answer{code::noValue, {}, 0};
  if (pid > 0) {
    ObjectRef application = applicationForPid(pid);
    if (application.isNull()) return answer;
    answer = focusInApplication(application, pid);
    // The application found for the pid earlier has gone: whatever has the
    // pid now is looked up once more.
    if (answer.code == code::invalidElement) {
      forgetApplication(pid, application);
      ObjectRef again = applicationForPid(pid);
      if (again.isNull()) return {code::noValue, {}, 0};
      if (again != application) answer = focusInApplication(again, pid);
    }
    if (answer.windowSaysActive || answer.code == code::invalidElement ||
        answer.code == code::cannotComplete) {
      return answer;
    }
    // No window of the application X11 names says ACTIVE. A window of
    // another application that does is in front of it (a Wayland one the
    // X11 active window knows nothing of); else the window the X11 one
    // stands for is taken at its word.
  }
  // Without an X11 active window, the application with an ACTIVE one.
  const ActiveFound& active = activeWithoutX11();
  if (active.root.isNull() || active.pid == pid) return answer;
  return lookUpFocus(active.root, active.pid, &active.window);
}

ActiveApplication applicationWithActiveWindow() { return activeWithoutX11(); }

void noteFocus(const std::string& busName, std::string_view path) {
  if (busName.empty()) return;
  knownFocus().put(busName, std::string(path));
}

void forgetFocusOf(const std::string& busName) {
  if (busName.empty()) {
    knownFocus().clear();
  } else {
    knownFocus().erase(busName);
  }
}

bool isKnownFocus(const std::string& busName, std::string_view path) {
  const std::string* known = knownFocus().find(busName);
  return known != nullptr && !path.empty() && *known == path;
}

}  // namespace focusctl::platform::atspi
