#include "platform/atspi/desktop/x11_desktop.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <utility>

#include "platform/atspi/bus/bus_client.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::x11 {
namespace {

using atspi::desktopMayHaveChanged;
using atspi::Fresh;
using atspi::FreshMap;

enum AtomIndex {
  netActiveWindow,
  netWmPid,
  netClientList,
  netClientListStacking,
  netSupported,
  netSupportingWmCheck,
  netWmName,
  gtkApplicationIdAtom,
  wmClass,
  utf8String,
  atSpiBus,
  atomCount
};

// Each atom's name, and how much of a property by that name is worth
// reading: one value for windows and pids, whole lists and texts up to a
// bound.
struct AtomSpec {
  const char* name;
  std::uint32_t maxLongs;
};
constexpr std::array<AtomSpec, atomCount> atomSpecs = {{
    {"_NET_ACTIVE_WINDOW", 1},
    {"_NET_WM_PID", 1},
    {"_NET_CLIENT_LIST", 65536},
    {"_NET_CLIENT_LIST_STACKING", 65536},
    {"_NET_SUPPORTED", 1024},
    {"_NET_SUPPORTING_WM_CHECK", 1},
    {"_NET_WM_NAME", 4096},
    {"_GTK_APPLICATION_ID", 4096},
    {"WM_CLASS", 4096},
    {"UTF8_STRING", 0},  // a type, never read
    // libatspi reads at most BUFSIZ units of AT_SPI_BUS.
    {"AT_SPI_BUS", 8192},
}};

// xcb hands every reply and event over in malloc'd memory. A reply waited
// for without asking for its error is null on an error, which xcb frees.
struct FreeDeleter {
  void operator()(void* data) const noexcept { std::free(data); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// A property asked for ahead of need, then its answer: later questions
// about the same window and property take it while it is fresh. An answer
// nobody waited for is discarded when it goes.
class Prefetched {
 public:
  Prefetched(xcb_connection_t* xcb, xcb_get_property_cookie_t cookie)
      : xcb_(xcb), cookie_(cookie) {}
  Prefetched(Prefetched&& other) noexcept
      : xcb_(std::exchange(other.xcb_, nullptr)),
        cookie_(other.cookie_),
        reply_(std::move(other.reply_)) {}
  Prefetched& operator=(Prefetched&&) = delete;
  ~Prefetched() {
    if (xcb_ != nullptr) xcb_discard_reply(xcb_, cookie_.sequence);
  }

  // Waits for the reply the first time; null when there is none.
  const xcb_get_property_reply_t* reply() {
    if (xcb_ != nullptr) {
      reply_.reset(xcb_get_property_reply(std::exchange(xcb_, nullptr), cookie_, nullptr));
    }
    return reply_.get();
  }

 private:
  xcb_connection_t* xcb_;  // until the reply is waited for
  xcb_get_property_cookie_t cookie_;
  Owned<xcb_get_property_reply_t> reply_;
};

struct Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = XCB_NONE;        // of the display's default screen
  xcb_window_t firstRoot = XCB_NONE;   // of screen 0, where AT_SPI_BUS lives
  std::array<xcb_atom_t, atomCount> atoms{};
  FreshMap<std::pair<xcb_window_t, AtomIndex>, Prefetched> prefetched;
  // Events read while a reply was awaited, served before the socket is read.
  std::deque<Owned<xcb_generic_event_t>> queued;
  // Whether an EWMH window manager runs, and its check window: asked once
  // per connection; a watching process learns of changes from events.
  std::optional<bool> managerRunning;
  xcb_window_t managerCheck = XCB_NONE;
};

bool lost(const Connection& x) { return xcb_connection_has_error(x.xcb) != 0; }

// Sends the request now and leaves its answer to be taken later, so that
// independent questions travel together.
Prefetched& prefetch(Connection& x, xcb_window_t window, AtomIndex name) {
  if (Prefetched* asked = x.prefetched.find({window, name})) return *asked;
  return x.prefetched.put(
      {window, name}, Prefetched(x.xcb, xcb_get_property(x.xcb, 0, window, x.atoms[name],
                                                         XCB_GET_PROPERTY_TYPE_ANY, 0,
                                                         atomSpecs[name].maxLongs)));
}

Connection* connection() {
  static Connection* opened = []() -> Connection* {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') return nullptr;
    int screenNumber = 0;
    xcb_connection_t* xcb = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(xcb) != 0) {
      xcb_disconnect(xcb);
      return nullptr;
    }
    // Kept for the whole process, like the accessibility bus connection.
    auto* made = new Connection;
    made->xcb = xcb;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
    made->firstRoot = screens.data->root;
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i) xcb_screen_next(&screens);
    made->root = screens.data->root;
    std::array<xcb_intern_atom_cookie_t, atomCount> cookies{};
    for (std::size_t i = 0; i < atomCount; ++i) {
      const char* atom = atomSpecs[i].name;
      cookies[i] = xcb_intern_atom(xcb, 0, static_cast<std::uint16_t>(std::strlen(atom)), atom);
    }
    for (std::size_t i = 0; i < atomCount; ++i) {
      Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(xcb, cookies[i], nullptr));
      made->atoms[i] = reply ? reply->atom : XCB_NONE;
    }
    // What nearly every command asks first, in one round trip: the bus
    // address, the window manager's check window and the active window.
    prefetch(*made, made->firstRoot, atSpiBus);
    prefetch(*made, made->root, netSupportingWmCheck);
    prefetch(*made, made->root, netActiveWindow);
    xcb_flush(xcb);
    return made;
  }();
  if (opened == nullptr || lost(*opened)) return nullptr;
  return opened;
}

// The property's value when it has that type and format (8 or 32 bits);
// nothing when the window is gone (an expected error) or the connection is.
std::optional<std::string> propertyValue(Connection& x, xcb_window_t window, AtomIndex name,
                                         xcb_atom_t type, int format) {
  if (window == XCB_NONE) return std::nullopt;
  const xcb_get_property_reply_t* reply = prefetch(x, window, name).reply();
  if (reply == nullptr || reply->type != type || reply->format != format) return std::nullopt;
  return std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
}

// A list of windows, atoms or numbers.
std::optional<std::vector<std::uint32_t>> items32(Connection& x, xcb_window_t window,
                                                  AtomIndex name, xcb_atom_t type) {
  std::optional<std::string> value = propertyValue(x, window, name, type, 32);
  if (!value) return std::nullopt;
  std::vector<std::uint32_t> items(value->size() / sizeof(std::uint32_t));
  std::memcpy(items.data(), value->data(), items.size() * sizeof(std::uint32_t));
  return items;
}

// The first item of the list; nothing when it is 0 (None).
std::optional<std::uint32_t> firstItem(Connection& x, xcb_window_t window, AtomIndex name,
                                       xcb_atom_t type) {
  auto items = items32(x, window, name, type);
  if (!items || items->empty() || items->front() == 0) return std::nullopt;
  return items->front();
}

std::optional<Pid> windowPid(Connection& x, xcb_window_t window) {
  auto pid = firstItem(x, window, netWmPid, XCB_ATOM_CARDINAL);
  if (!pid || *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) {
    return std::nullopt;
  }
  return static_cast<Pid>(*pid);
}

// The active window, with what is asked about it next (its owner, then what
// names its application) sent as soon as it is known.
std::optional<xcb_window_t> activeWindow(Connection& x) {
  auto window = firstItem(x, x.root, netActiveWindow, XCB_ATOM_WINDOW);
  if (window) {
    for (AtomIndex name : {netWmPid, gtkApplicationIdAtom, netWmName, wmClass}) {
      prefetch(x, *window, name);
    }
  }
  return window;
}

// An EWMH window manager is running when the check window it names on the
// root names itself too; otherwise the root's EWMH properties are left over.
bool ewmhManagerRunning(Connection& x) {
  if (x.managerRunning) return *x.managerRunning;
  auto check = firstItem(x, x.root, netSupportingWmCheck, XCB_ATOM_WINDOW);
  auto self = check ? firstItem(x, *check, netSupportingWmCheck, XCB_ATOM_WINDOW)
                    : std::nullopt;
  x.managerRunning = check && self && *self == *check;
  x.managerCheck = *x.managerRunning ? *check : XCB_NONE;
  return *x.managerRunning;
}

struct Active {
  xcb_window_t window = XCB_NONE;
  std::optional<Pid> pid;
};

// The last answer about the active window, while it is fresh.
Fresh<Active>& knownActive() {
  static Fresh<Active> active;
  return active;
}

FreshMap<Pid, std::vector<WindowId>>& knownWindows() {
  static FreshMap<Pid, std::vector<WindowId>> windows;
  return windows;
}

bool managerSupports(Connection& x, AtomIndex feature) {
  if (!ewmhManagerRunning(x)) return false;
  auto atoms = items32(x, x.root, netSupported, XCB_ATOM_ATOM);
  return atoms && std::find(atoms->begin(), atoms->end(), x.atoms[feature]) != atoms->end();
}

// Top-level client windows, topmost first.
std::vector<xcb_window_t> topLevelWindows(Connection& x) {
  // The stacking list runs bottom to top; the plain one in mapping order,
  // oldest first.
  std::optional<std::vector<xcb_window_t>> windows;
  if (ewmhManagerRunning(x)) {
    windows = items32(x, x.root, netClientListStacking, XCB_ATOM_WINDOW);
    if (!windows) windows = items32(x, x.root, netClientList, XCB_ATOM_WINDOW);
  }
  // No window manager: the root's children are the top-level windows,
  // listed bottom to top.
  if (!windows) {
    windows.emplace();
    Owned<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.xcb, xcb_query_tree(x.xcb, x.root), nullptr));
    if (tree) {
      const xcb_window_t* children = xcb_query_tree_children(tree.get());
      windows->assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
  }
  std::reverse(windows->begin(), windows->end());
  return std::move(*windows);
}

bool viewable(Connection& x, xcb_window_t window) {
  Owned<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
      x.xcb, xcb_get_window_attributes(x.xcb, window), nullptr));
  return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

// A round trip: everything sent before it has been handled by the server
// when it returns.
void sync(Connection& x) {
  std::free(xcb_get_input_focus_reply(x.xcb, xcb_get_input_focus(x.xcb), nullptr));
}

void selectEvents(Connection& x, xcb_window_t window, std::uint32_t mask) {
  xcb_change_window_attributes(x.xcb, window, XCB_CW_EVENT_MASK, &mask);
}

// Follows the window manager's check window, so that its going away is
// seen as an event.
void watchManagerCheck(Connection& x) {
  if (ewmhManagerRunning(x)) selectEvents(x, x.managerCheck, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
}

Owned<xcb_generic_event_t> nextEvent(Connection& x) {
  if (!x.queued.empty()) {
    auto event = std::move(x.queued.front());
    x.queued.pop_front();
    return event;
  }
  return Owned<xcb_generic_event_t>(xcb_poll_for_event(x.xcb));
}

// Handles the events read so far; false once the connection is lost.
bool handleEvents(Connection& x, void (*activeWindowChanged)()) {
  bool changed = false;
  bool managerChanged = false;
  while (auto event = nextEvent(x)) {
    // Errors (type 0) for windows gone between two requests are expected.
    switch (event->response_type & 0x7f) {
      case XCB_PROPERTY_NOTIFY: {
        auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        changed = changed || notify->atom == x.atoms[netActiveWindow];
        managerChanged = managerChanged || notify->atom == x.atoms[netSupportingWmCheck];
        break;
      }
      case XCB_DESTROY_NOTIFY: {
        auto* destroyed = reinterpret_cast<const xcb_destroy_notify_event_t*>(event.get());
        managerChanged = managerChanged ||
                         (x.managerCheck != XCB_NONE && destroyed->window == x.managerCheck);
        break;
      }
      default:
        break;
    }
  }
  // Windows, their owners and the window manager may all have changed.
  desktopMayHaveChanged();
  if (managerChanged && !lost(x)) {
    x.managerRunning.reset();
    x.managerCheck = XCB_NONE;
    watchManagerCheck(x);
    xcb_flush(x.xcb);
  }
  if (changed) activeWindowChanged();
  return !lost(x);
}

// A text property of the window: WM_CLASS is a STRING, as the ICCCM has it,
// the others are UTF8_STRING. Nothing when it is empty.
std::optional<std::string> windowText(WindowId window, AtomIndex name) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  xcb_atom_t type = x->atoms[utf8String];
  if (name == wmClass) type = XCB_ATOM_STRING;
  std::optional<std::string> text =
      propertyValue(*x, static_cast<xcb_window_t>(window), name, type, 8);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

// WM_CLASS holds two NUL-terminated strings: the instance, then the class.
std::optional<std::string> classPart(WindowId window, bool className) {
  std::optional<std::string> text = windowText(window, wmClass);
  if (!text) return std::nullopt;
  std::string_view part = *text;
  if (className) {
    std::size_t end = part.find('\0');
    part = end == std::string_view::npos ? "" : part.substr(end + 1);
  }
  part = part.substr(0, part.find('\0'));
  if (part.empty()) return std::nullopt;
  return std::string(part);
}

}  // namespace

std::string accessibilityBusAddress() {
  std::string address;
  Connection* x = connection();
  if (x == nullptr) return address;
  // libatspi drops the screen number from DISPLAY and so reads the first
  // screen's root.
  std::optional<std::string> text = propertyValue(*x, x->firstRoot, atSpiBus, XCB_ATOM_STRING, 8);
  // The active window came with it: what follows is asked before the bus
  // is connected, so that the answers are in by the time they are needed.
  activeWindow(*x);
  if (auto check = firstItem(*x, x->root, netSupportingWmCheck, XCB_ATOM_WINDOW)) {
    prefetch(*x, *check, netSupportingWmCheck);
  }
  xcb_flush(x->xcb);
  if (text) address = text->substr(0, text->find('\0'));
  return address;
}

std::optional<Pid> activeWindowPid() {
  if (const Active* known = knownActive().get()) return known->pid;
  Connection* x = connection();
  if (x == nullptr || !ewmhManagerRunning(*x)) return std::nullopt;
  Active active;
  if (auto window = activeWindow(*x)) {
    active.window = *window;
    active.pid = windowPid(*x, *window);
  }
  knownActive().set(active);
  return active.pid;
}

std::optional<WindowId> knownActiveWindowOf(Pid pid) {
  const Active* known = knownActive().get();
  if (known == nullptr || known->window == XCB_NONE || known->pid != pid) return std::nullopt;
  return known->window;
}

std::vector<WindowId> windowsOfPid(Pid pid) {
  std::vector<WindowId> owned;
  Connection* x = connection();
  if (x == nullptr || pid <= 0) return owned;
  if (const std::vector<WindowId>* known = knownWindows().find(pid)) return *known;
  std::vector<xcb_window_t> all = topLevelWindows(*x);
  // Every window's owner in one round trip.
  for (xcb_window_t window : all) prefetch(*x, window, netWmPid);
  for (xcb_window_t window : all) {
    if (windowPid(*x, window) == pid) owned.push_back(window);
  }
  return knownWindows().put(pid, std::move(owned));
}

std::optional<std::string> windowInstance(WindowId window) { return classPart(window, false); }

std::optional<std::string> windowClass(WindowId window) { return classPart(window, true); }

std::optional<std::string> gtkApplicationId(WindowId window) {
  return windowText(window, gtkApplicationIdAtom);
}

std::optional<std::string> windowTitle(WindowId window) { return windowText(window, netWmName); }

std::optional<Origin> windowOrigin(WindowId window) {
  Connection* x = connection();
  if (x == nullptr || window == XCB_NONE) return std::nullopt;
  Owned<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
      x->xcb, xcb_translate_coordinates(x->xcb, static_cast<xcb_window_t>(window), x->root, 0, 0),
      nullptr));
  if (!reply || !reply->same_screen) return std::nullopt;
  return Origin{reply->dst_x, reply->dst_y};
}

bool watchActiveWindow(void (*changed)()) {
  Connection* x = connection();
  if (x == nullptr || changed == nullptr || !ewmhManagerRunning(*x)) return false;
  selectEvents(*x, x->root, XCB_EVENT_MASK_PROPERTY_CHANGE);
  watchManagerCheck(*x);
  xcb_flush(x->xcb);
  // Served by the loop for the rest of the process; events xcb already
  // read while it waited for a reply are handled before the loop sleeps.
  atspi::bus::watchReadable(
      xcb_get_file_descriptor(x->xcb), [x, changed] { return handleEvents(*x, changed); },
      [x] {
        if (lost(*x)) return false;
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(x->xcb)) {
          x->queued.emplace_back(event);
        }
        return !x->queued.empty();
      });
  return true;
}

bool activate(const std::vector<WindowId>& windows) {
  Connection* x = connection();
  if (x == nullptr || windows.empty()) return false;
  if (managerSupports(*x, netActiveWindow)) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(windows.front());
    event.type = x->atoms[netActiveWindow];
    event.data.data32[0] = 2;  // source indication: a pager, not an application
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = 0;  // focusctl has no window of its own
    xcb_send_event(x->xcb, 0, x->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    // A round trip, not a flush: the process exits right after this, and a
    // server that sees the hang-up before reading the request drops it unread.
    sync(*x);
    return !lost(*x);
  }
  // Without a window manager nobody else decides: raise and focus directly.
  for (WindowId id : windows) {
    auto window = static_cast<xcb_window_t>(id);
    if (!viewable(*x, window)) continue;
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(x->xcb, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_set_input_focus(x->xcb, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    sync(*x);
    return true;
  }
  return false;
}

}  // namespace focusctl::platform::x11
