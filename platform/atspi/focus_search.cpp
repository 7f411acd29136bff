#include "platform/atspi/focus_search.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/atspi/bus_session.h"
#include "platform/atspi/freshness.h"
#include "platform/atspi/registered_applications.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

// A walk visits at most this many elements, so that a huge tree in a toolkit
// without Collection cannot hold a command for long.
constexpr int walkLimit = 2000;

GRef<AtspiStateSet> statesOf(AtspiAccessible* element) {
  // Never null: libatspi answers a failed call with a set holding DEFUNCT.
  return GRef<AtspiStateSet>(atspi_accessible_get_state_set(element));
}

bool has(AtspiStateSet* states, AtspiStateType state) {
  return states != nullptr && atspi_state_set_contains(states, state) != FALSE;
}

struct ActiveWindow {
  ResultCode code = code::noValue;
  GRef<AtspiAccessible> window;
  GRef<AtspiStateSet> states;
  // With code::noValue: the application answered but none of its windows
  // says ACTIVE; these are its windows then, in the order they may hold the
  // focus.
  std::vector<std::pair<GRef<AtspiAccessible>, GRef<AtspiStateSet>>> inactive;
};

// Where no window says ACTIVE (GTK 4 leaves it off a dialog), the one the
// window manager made active comes first, found by its title; then modal
// ones, which hold the keyboard while they are shown.
void orderInactive(ActiveWindow& windows, Pid pid) {
  if (windows.inactive.size() < 2) return;
  std::optional<std::string> title;
  if (std::optional<x11::WindowId> active =
          pid > 0 ? x11::knownActiveWindowOf(pid) : std::nullopt) {
    title = x11::windowTitle(*active);
  }
  auto rank = [&](const auto& entry) {
    if (title && !title->empty()) {
      ErrorSlot error;
      if (takeString(atspi_accessible_get_name(entry.first.get(), error.out())) == *title) {
        return 0;
      }
    }
    return has(entry.second.get(), ATSPI_STATE_MODAL) ? 1 : 2;
  };
  std::vector<std::pair<int, std::size_t>> ranks;
  for (std::size_t i = 0; i < windows.inactive.size(); ++i) {
    ranks.emplace_back(rank(windows.inactive[i]), i);
  }
  std::stable_sort(ranks.begin(), ranks.end());
  decltype(windows.inactive) ordered;
  for (const auto& [rankOf, index] : ranks) ordered.push_back(std::move(windows.inactive[index]));
  windows.inactive = std::move(ordered);
}

ActiveWindow activeWindowOf(AtspiAccessible* application, Pid pid) {
  if (knownUnresponsive(application)) return {code::cannotComplete, nullptr, nullptr, {}};
  ErrorSlot error;
  int count = atspi_accessible_get_child_count(application, error.out());
  if (count < 0) return {failureCode(application), nullptr, nullptr, {}};
  ActiveWindow found;
  for (int i = 0; i < count; ++i) {
    GRef<AtspiAccessible> window(
        atspi_accessible_get_child_at_index(application, i, error.out()));
    if (!window) continue;
    GRef<AtspiStateSet> states = statesOf(window.get());
    if (has(states.get(), ATSPI_STATE_ACTIVE)) {
      return {code::success, std::move(window), std::move(states), {}};
    }
    if (has(states.get(), ATSPI_STATE_VISIBLE) && !has(states.get(), ATSPI_STATE_DEFUNCT)) {
      found.inactive.emplace_back(std::move(window), std::move(states));
    }
  }
  orderInactive(found, pid);
  return found;
}

// Toolkits may mark a container FOCUSED together with the widget inside it
// that really has the focus (Qt: an editable combo box and its line edit, a
// dialog's button box and its default button); the deepest one is the focus.
constexpr int focusedMatchLimit = 8;
constexpr int ancestryLimit = 64;

bool isAncestorOf(AtspiAccessible* ancestor, AtspiAccessible* element) {
  ErrorSlot error;
  GRef<AtspiAccessible> node(atspi_accessible_get_parent(element, error.out()));
  for (int depth = 0; node && depth < ancestryLimit; ++depth) {
    if (node.get() == ancestor) return true;
    node.reset(atspi_accessible_get_parent(node.get(), error.out()));
  }
  return false;
}

// One Collection query for the deepest FOCUSED descendant. Nothing when the
// window offers no Collection or the query failed; an empty reference when
// it answered that nothing has focus.
std::optional<GRef<AtspiAccessible>> focusedByCollection(AtspiAccessible* window) {
  GRef<AtspiCollection> collection(atspi_accessible_get_collection_iface(window));
  if (!collection) return std::nullopt;
  GRef<AtspiStateSet> wanted(atspi_state_set_new(nullptr));
  atspi_state_set_add(wanted.get(), ATSPI_STATE_FOCUSED);
  GRef<AtspiMatchRule> rule(atspi_match_rule_new(
      wanted.get(), ATSPI_Collection_MATCH_ALL, nullptr,
      ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
      ATSPI_Collection_MATCH_ALL, FALSE));
  ErrorSlot error;
  GArray* matches = atspi_collection_get_matches(
      collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL,
      focusedMatchLimit, TRUE, error.out());
  if (matches == nullptr) return std::nullopt;
  std::vector<GRef<AtspiAccessible>> found;
  auto** items = reinterpret_cast<AtspiAccessible**>(matches->data);
  for (guint i = 0; i < matches->len; ++i) {
    found.emplace_back(items[i]);  // the array owned one reference each
  }
  g_array_free(matches, TRUE);
  // In document order a descendant follows its ancestor; a later match
  // outside the chain (a stale state elsewhere) does not count.
  GRef<AtspiAccessible> deepest;
  for (GRef<AtspiAccessible>& match : found) {
    if (!match || match.get() == window) continue;
    if (!deepest || isAncestorOf(deepest.get(), match.get())) {
      deepest = std::move(match);
    }
  }
  return deepest;
}

void pushChildren(AtspiAccessible* parent,
                  std::vector<GRef<AtspiAccessible>>& stack) {
  ErrorSlot error;
  int count = atspi_accessible_get_child_count(parent, error.out());
  std::vector<GRef<AtspiAccessible>> children;
  for (int i = 0; i < count; ++i) {
    GRef<AtspiAccessible> child(
        atspi_accessible_get_child_at_index(parent, i, error.out()));
    if (child) children.push_back(std::move(child));
  }
  // Last pushed is visited first: keep document order.
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    stack.push_back(std::move(*child));
  }
}

// Depth first, in document order, skipping what cannot hold the focus:
// subtrees that are not visible, and those whose container manages its
// descendants (tables and lists that may hold thousands of transient cells).
// SHOWING alone does not prune: GTK 4.8 never reports it. Below a FOCUSED
// element only its own subtree is searched further, for a deeper one.
GRef<AtspiAccessible> focusedByWalk(AtspiAccessible* window) {
  std::vector<GRef<AtspiAccessible>> stack;
  GRef<AtspiAccessible> deepest;
  pushChildren(window, stack);
  for (int visited = 0; !stack.empty() && visited < walkLimit; ++visited) {
    GRef<AtspiAccessible> node = std::move(stack.back());
    stack.pop_back();
    GRef<AtspiStateSet> states = statesOf(node.get());
    if (has(states.get(), ATSPI_STATE_DEFUNCT)) continue;
    if (has(states.get(), ATSPI_STATE_FOCUSED)) {
      stack.clear();
      if (!has(states.get(), ATSPI_STATE_MANAGES_DESCENDANTS)) {
        pushChildren(node.get(), stack);
      }
      deepest = std::move(node);
      continue;
    }
    if (!has(states.get(), ATSPI_STATE_VISIBLE) ||
        has(states.get(), ATSPI_STATE_MANAGES_DESCENDANTS)) {
      continue;
    }
    pushChildren(node.get(), stack);
  }
  return deepest;
}

FocusAnswer focusInWindow(AtspiAccessible* window, AtspiStateSet* windowStates,
                          Pid pid) {
  GRef<AtspiAccessible> found;
  if (auto viaCollection = focusedByCollection(window)) {
    found = std::move(*viaCollection);
  } else {
    found = focusedByWalk(window);
  }
  // A FOCUSED window with nothing focused inside has the focus itself.
  if (!found && has(windowStates, ATSPI_STATE_FOCUSED)) found = addRef(window);
  if (!found) return {code::noValue, nullptr, pid};
  return {code::success, std::move(found), pid};
}

FocusAnswer noted(AtspiAccessible* application, FocusAnswer answer) {
  noteFocus(busNameOf(application),
            answer.element ? pathOf(answer.element.get()) : std::string());
  return answer;
}

std::unordered_map<std::string, std::string>& knownFocus() {
  static std::unordered_map<std::string, std::string> focus;
  return focus;
}

// Lookups that found no focus, by application: one command may ask for the
// focus of one application twice (on the desktop, then through its
// application element), and a walk that came to nothing, up to its limit,
// is not worth repeating while nothing may have changed.
struct Miss {
  ResultCode code;
  bool windowSaysActive;
};
std::unordered_map<std::string, Fresh<Miss>>& recentMisses() {
  static std::unordered_map<std::string, Fresh<Miss>> misses;
  return misses;
}

// The first application with an ACTIVE window, found without X11 (a null
// root when none has one), and that window.
struct ActiveFound {
  GRef<AtspiAccessible> root;
  Pid pid = 0;
  ActiveWindow window;
};

const ActiveFound& activeWithoutX11() {
  static auto& known = *new Fresh<ActiveFound>;
  if (const ActiveFound* found = known.get()) return *found;
  ActiveFound found;
  for (GRef<AtspiAccessible>& application : applicationRoots()) {
    ActiveWindow active = activeWindowOf(application.get(), 0);
    if (active.code != code::success) continue;
    Pid pid = applicationPid(application.get());
    if (pid <= 0) continue;
    found = {std::move(application), pid, std::move(active)};
    break;
  }
  return known.set(std::move(found));
}

// The focus in an application none of whose windows says ACTIVE: the first
// of its windows holding a FOCUSED element.
FocusAnswer focusInInactiveWindows(const ActiveWindow& windows, Pid pid) {
  for (const auto& [window, states] : windows.inactive) {
    FocusAnswer answer = focusInWindow(window.get(), states.get(), pid);
    if (answer.code == code::success) return answer;
  }
  return {code::noValue, nullptr, pid};
}

// The focus in the application, in its active window when that is known
// already.
FocusAnswer lookUpFocus(AtspiAccessible* application, Pid pid,
                        const ActiveWindow* knownWindow) {
  std::string busName = busNameOf(application);
  auto& misses = recentMisses();
  std::erase_if(misses, [](const auto& entry) { return entry.second.get() == nullptr; });
  if (auto known = misses.find(busName); known != misses.end()) {
    const Miss& miss = *known->second.get();
    return {miss.code, nullptr, pid, miss.windowSaysActive};
  }
  ActiveWindow looked;
  const ActiveWindow& active =
      knownWindow != nullptr ? *knownWindow : (looked = activeWindowOf(application, pid));
  FocusAnswer answer;
  if (active.code == code::success) {
    answer = noted(application, focusInWindow(active.window.get(), active.states.get(), pid));
  } else if (active.code == code::noValue) {
    answer = focusInInactiveWindows(active, pid);
    answer.windowSaysActive = false;
    if (answer.code == code::success) answer = noted(application, std::move(answer));
  } else {
    answer = {active.code, nullptr, pid};
  }
  if (answer.code != code::success && !busName.empty()) {
    misses[busName].set({answer.code, answer.windowSaysActive});
  }
  return answer;
}

}  // namespace

FocusAnswer focusInApplication(AtspiAccessible* application, Pid pid) {
  return lookUpFocus(application, pid, nullptr);
}

FocusAnswer focusOnDesktop() {
  // The X11 active window speaks only for X11 applications: under XWayland
  // it is 0 while a Wayland application is in front, and AT-SPI decides.
  std::optional<Pid> pid = x11::activeWindowPid();
  if (pid && *pid > 0) {
    GRef<AtspiAccessible> application = applicationForPid(*pid);
    if (!application) return {code::noValue, nullptr, 0};
    FocusAnswer answer = focusInApplication(application.get(), *pid);
    // The application found for the pid earlier has gone: whatever has the
    // pid now is looked up once more.
    if (answer.code == code::invalidElement) {
      forgetApplication(*pid, application.get());
      GRef<AtspiAccessible> again = applicationForPid(*pid);
      if (!again) return {code::noValue, nullptr, 0};
      if (again.get() != application.get()) answer = focusInApplication(again.get(), *pid);
    }
    if (answer.windowSaysActive || answer.code == code::invalidElement ||
        answer.code == code::cannotComplete) {
      return answer;
    }
    // No window of the application X11 names says ACTIVE. A window of
    // another application that does is in front of it (a Wayland one the
    // X11 active window knows nothing of); else the window the X11 one
    // stands for is taken at its word.
    const ActiveFound& active = activeWithoutX11();
    if (active.root && active.pid != *pid) {
      return lookUpFocus(active.root.get(), active.pid, &active.window);
    }
    return answer;
  }
  const ActiveFound& active = activeWithoutX11();
  if (!active.root) return {code::noValue, nullptr, 0};
  return lookUpFocus(active.root.get(), active.pid, &active.window);
}

ActiveApplication applicationWithActiveWindow() {
  const ActiveFound& active = activeWithoutX11();
  return {addRef(active.root.get()), active.pid};
}

void noteFocus(const std::string& busName, std::string_view path) {
  if (busName.empty()) return;
  knownFocus()[busName] = std::string(path);
}

bool isKnownFocus(const std::string& busName, std::string_view path) {
  auto known = knownFocus().find(busName);
  return known != knownFocus().end() && !path.empty() && known->second == path;
}

}  // namespace focusctl::platform::atspi
