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
  utf8String,
  atSpiBus,
  atomCount
};

constexpr std::array<const char*, atomCount> atomNames = {
    "_NET_ACTIVE_WINDOW",   "_NET_WM_PID",
    "_NET_CLIENT_LIST",     "_NET_CLIENT_LIST_STACKING",
    "_NET_SUPPORTED",       "_NET_SUPPORTING_WM_CHECK",
    "_NET_WM_NAME",         "_GTK_APPLICATION_ID",
    "UTF8_STRING",          "AT_SPI_BUS",
};

// xcb hands every reply and event over in malloc'd memory.
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

  // Waits for the reply the first time; it may hold nothing.
  const std::shared_ptr<xcb_get_property_reply_t>& reply() {
    if (xcb_ != nullptr) {
      xcb_generic_error_t* error = nullptr;
      reply_.reset(xcb_get_property_reply(std::exchange(xcb_, nullptr), cookie_, &error),
                   std::free);
      std::free(error);
    }
    return reply_;
  }

 private:
  xcb_connection_t* xcb_;  // until the reply is waited for
  xcb_get_property_cookie_t cookie_;
  std::shared_ptr<xcb_get_property_reply_t> reply_;
};

struct Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = XCB_NONE;        // of the display's default screen
  xcb_window_t firstRoot = XCB_NONE;   // of screen 0, where AT_SPI_BUS lives
  std::array<xcb_atom_t, atomCount> atoms{};
  FreshMap<std::pair<xcb_window_t, xcb_atom_t>, Prefetched> prefetched;
  // Events read while a reply was awaited, served before the socket is read.
  std::deque<Owned<xcb_generic_event_t>> queued;
  // Whether an EWMH window manager runs, and its check window: asked once
  // per connection; a watching process learns of changes from events.
  std::optional<bool> managerRunning;
  xcb_window_t managerCheck = XCB_NONE;
};

bool lost(const Connection& x) { return xcb_connection_has_error(x.xcb) != 0; }

// How much of each property is worth reading: one value for windows and
// pids, whole lists and texts up to a bound.
std::uint32_t maxLongs(xcb_atom_t name, const Connection& x) {
  if (name == x.atoms[netClientList] || name == x.atoms[netClientListStacking]) return 65536;
  if (name == x.atoms[netSupported]) return 1024;
  // libatspi reads at most BUFSIZ units of AT_SPI_BUS.
  if (name == x.atoms[atSpiBus]) return 8192;
  if (name == x.atoms[netActiveWindow] || name == x.atoms[netWmPid] ||
      name == x.atoms[netSupportingWmCheck]) {
    return 1;
  }
  return 4096;
}

// Sends the request now and leaves its answer to be taken later, so that
// independent questions travel together.
Prefetched& prefetch(Connection& x, xcb_window_t window, xcb_atom_t name) {
  if (Prefetched* asked = x.prefetched.find({window, name})) return *asked;
  return x.prefetched.put(
      {window, name}, Prefetched(x.xcb, xcb_get_property(x.xcb, 0, window, name,
                                                         XCB_GET_PROPERTY_TYPE_ANY, 0,
                                                         maxLongs(name, x))));
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
      cookies[i] = xcb_intern_atom(xcb, 0, static_cast<std::uint16_t>(std::strlen(atomNames[i])),
                                   atomNames[i]);
    }
    for (std::size_t i = 0; i < atomCount; ++i) {
      xcb_generic_error_t* error = nullptr;
      Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(xcb, cookies[i], &error));
      std::free(error);
      made->atoms[i] = reply ? reply->atom : XCB_NONE;
    }
    // What nearly every command asks first, in one round trip: the bus
    // address, the window manager's check window and the active window.
    prefetch(*made, made->firstRoot, made->atoms[atSpiBus]);
    prefetch(*made, made->root, made->atoms[netSupportingWmCheck]);
    prefetch(*made, made->root, made->atoms[netActiveWindow]);
    xcb_flush(xcb);
    return made;
  }();
  if (opened == nullptr || lost(*opened)) return nullptr;
  return opened;
}

struct Property {
  std::shared_ptr<xcb_get_property_reply_t> reply;
  xcb_atom_t type() const { return reply->type; }
  int format() const { return reply->format; }
  const std::uint8_t* bytes() const {
    return static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
  }
  std::size_t size() const {
    return static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
  }
};

// The property's value with whatever type it has; nothing when the window
// is gone (an expected error) or the connection is.
std::optional<Property> anyProperty(Connection& x, xcb_window_t window, xcb_atom_t name) {
  if (window == XCB_NONE) return std::nullopt;
  const std::shared_ptr<xcb_get_property_reply_t>& reply = prefetch(x, window, name).reply();
  if (!reply || reply->type == XCB_NONE) return std::nullopt;
  return Property{reply};
}

std::optional<Property> readProperty(Connection& x, xcb_window_t window, xcb_atom_t name,
                                     xcb_atom_t type) {
  auto property = anyProperty(x, window, name);
  if (!property || property->type() != type) return std::nullopt;
  return property;
}

std::vector<std::uint32_t> items32(const Property& property) {
  std::vector<std::uint32_t> items;
  if (property.format() != 32) return items;
  items.resize(property.size() / sizeof(std::uint32_t));
  std::memcpy(items.data(), property.bytes(), items.size() * sizeof(std::uint32_t));
  return items;
}

std::optional<xcb_window_t> windowProperty(Connection& x, xcb_window_t window, xcb_atom_t name) {
  auto property = readProperty(x, window, name, XCB_ATOM_WINDOW);
  if (!property) return std::nullopt;
  auto items = items32(*property);
  if (items.empty() || items[0] == XCB_NONE) return std::nullopt;
  return items[0];
}

std::optional<std::string> textProperty(Connection& x, xcb_window_t window, xcb_atom_t name,
                                        xcb_atom_t type) {
  auto property = readProperty(x, window, name, type);
  if (!property || property->format() != 8 || property->size() == 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(property->bytes()), property->size());
}

std::optional<Pid> pidOf(const std::optional<Property>& property) {
  if (!property || property->type() != XCB_ATOM_CARDINAL) return std::nullopt;
  auto items = items32(*property);
  if (items.empty() || items[0] == 0 ||
      items[0] > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) {
    return std::nullopt;
  }
  return static_cast<Pid>(items[0]);
}

std::optional<Pid> windowPid(Connection& x, xcb_window_t window) {
  return pidOf(anyProperty(x, window, x.atoms[netWmPid]));
}

// What is asked about the active window next (its owner, then what names
// its application), sent as soon as the window is known.
void prefetchAboutWindow(Connection& x, xcb_window_t window) {
  for (AtomIndex name : {netWmPid, gtkApplicationIdAtom, netWmName}) {
    prefetch(x, window, x.atoms[name]);
  }
  prefetch(x, window, XCB_ATOM_WM_CLASS);
}

// An EWMH window manager is running when the check window it names on the
// root names itself too; otherwise the root's EWMH properties are left over.
bool ewmhManagerRunning(Connection& x) {
  if (x.managerRunning) return *x.managerRunning;
  auto check = windowProperty(x, x.root, x.atoms[netSupportingWmCheck]);
  auto self = check ? windowProperty(x, *check, x.atoms[netSupportingWmCheck])
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

bool managerSupports(Connection& x, xcb_atom_t feature) {
  if (!ewmhManagerRunning(x)) return false;
  auto property = readProperty(x, x.root, x.atoms[netSupported], XCB_ATOM_ATOM);
  if (!property) return false;
  auto atoms = items32(*property);
  return std::find(atoms.begin(), atoms.end(), feature) != atoms.end();
}

// Top-level client windows, topmost first.
std::vector<xcb_window_t> topLevelWindows(Connection& x) {
  std::vector<xcb_window_t> windows;
  if (ewmhManagerRunning(x)) {
    for (AtomIndex list : {netClientListStacking, netClientList}) {
      auto property = readProperty(x, x.root, x.atoms[list], XCB_ATOM_WINDOW);
      if (!property) continue;
      windows = items32(*property);
      // The stacking list runs bottom to top; the plain one in mapping order,
      // oldest first.
      std::reverse(windows.begin(), windows.end());
      return windows;
    }
  }
  // No window manager: the root's children are the top-level windows,
  // listed bottom to top.
  xcb_generic_error_t* error = nullptr;
  Owned<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(x.xcb, xcb_query_tree(x.xcb, x.root), &error));
  std::free(error);
  if (tree) {
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
    std::reverse(windows.begin(), windows.end());
  }
  return windows;
}

bool viewable(Connection& x, xcb_window_t window) {
  xcb_generic_error_t* error = nullptr;
  Owned<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
      x.xcb, xcb_get_window_attributes(x.xcb, window), &error));
  std::free(error);
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

}  // namespace

std::string accessibilityBusAddress() {
  std::string address;
  Connection* x = connection();
  if (x == nullptr) return address;
  // libatspi drops the screen number from DISPLAY and so reads the first
  // screen's root.
  auto property = anyProperty(*x, x->firstRoot, x->atoms[atSpiBus]);
  // The active window came with it: what follows is asked before the bus
  // is connected, so that the answers are in by the time they are needed.
  if (auto active = windowProperty(*x, x->root, x->atoms[netActiveWindow])) {
    prefetchAboutWindow(*x, *active);
  }
  if (auto check = windowProperty(*x, x->root, x->atoms[netSupportingWmCheck])) {
    prefetch(*x, *check, x->atoms[netSupportingWmCheck]);
  }
  xcb_flush(x->xcb);
  if (property && property->type() == XCB_ATOM_STRING && property->format() == 8) {
    const char* text = reinterpret_cast<const char*>(property->bytes());
    address.assign(text, strnlen(text, property->size()));
  }
  return address;
}

std::optional<Pid> activeWindowPid() {
  if (const Active* known = knownActive().get()) return known->pid;
  Connection* x = connection();
  if (x == nullptr || !ewmhManagerRunning(*x)) return std::nullopt;
  Active active;
  if (auto window = windowProperty(*x, x->root, x->atoms[netActiveWindow])) {
    active.window = *window;
    prefetchAboutWindow(*x, *window);
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
  for (xcb_window_t window : all) prefetch(*x, window, x->atoms[netWmPid]);
  for (xcb_window_t window : all) {
    if (windowPid(*x, window) == pid) owned.push_back(window);
  }
  return knownWindows().put(pid, std::move(owned));
}

std::optional<WindowClass> windowClass(WindowId window) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  // Two NUL-terminated strings: the instance, then the class.
  auto text = textProperty(*x, static_cast<xcb_window_t>(window), XCB_ATOM_WM_CLASS,
                           XCB_ATOM_STRING);
  if (!text) return std::nullopt;
  std::size_t end = text->find('\0');
  WindowClass result{text->substr(0, end), ""};
  if (end != std::string::npos) {
    std::string rest = text->substr(end + 1);
    result.className = rest.substr(0, rest.find('\0'));
  }
  return result;
}

std::optional<std::string> gtkApplicationId(WindowId window) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  return textProperty(*x, static_cast<xcb_window_t>(window), x->atoms[gtkApplicationIdAtom],
                      x->atoms[utf8String]);
}

std::optional<std::string> windowTitle(WindowId window) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  return textProperty(*x, static_cast<xcb_window_t>(window), x->atoms[netWmName],
                      x->atoms[utf8String]);
}

std::optional<Origin> windowOrigin(WindowId window) {
  Connection* x = connection();
  if (x == nullptr || window == XCB_NONE) return std::nullopt;
  xcb_generic_error_t* error = nullptr;
  Owned<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
      x->xcb, xcb_translate_coordinates(x->xcb, static_cast<xcb_window_t>(window), x->root, 0, 0),
      &error));
  std::free(error);
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
  if (managerSupports(*x, x->atoms[netActiveWindow])) {
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
