#include "platform/atspi/x11_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <glib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>

#include "platform/atspi/freshness.h"
#include "platform/atspi/quiet_stderr.h"

namespace focusctl::platform::x11 {
namespace {

using atspi::desktopMayHaveChanged;
using atspi::Fresh;

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

struct Connection {
  Display* display = nullptr;
  std::array<Atom, atomCount> atoms{};
  // Whether an EWMH window manager runs, and its check window: asked once
  // per connection; a watching process learns of changes from events.
  std::optional<bool> managerRunning;
  Window managerCheck = None;
};

bool connectionLost = false;

// Errors for windows that vanish between two requests are expected; the
// request that met one simply reports no answer.
int ignoreError(Display*, XErrorEvent*) { return 0; }

// Without these Xlib writes to standard error and exits when the server
// goes away; from then on the display is no longer used.
int ignoreIoError(Display*) { return 0; }
void keepRunningAfterIoError(Display*, void*) { connectionLost = true; }

Connection* connection() {
  static Connection* opened = [] () -> Connection* {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') return nullptr;
    XSetErrorHandler(ignoreError);
    XSetIOErrorHandler(ignoreIoError);
    Display* display = [] {
      atspi::QuietStandardError quiet;
      return XOpenDisplay(nullptr);
    }();
    if (display == nullptr) return nullptr;
    XSetIOErrorExitHandler(display, keepRunningAfterIoError, nullptr);
    // Kept for the whole process, like the accessibility bus connection.
    auto* made = new Connection;
    made->display = display;
    std::array<char*, atomCount> names{};
    for (std::size_t i = 0; i < atomCount; ++i) {
      names[i] = const_cast<char*>(atomNames[i]);
    }
    XInternAtoms(display, names.data(), atomCount, False, made->atoms.data());
    return made;
  }();
  if (opened == nullptr || connectionLost) return nullptr;
  return opened;
}

struct XFreeDeleter {
  void operator()(void* data) const noexcept {
    if (data != nullptr) XFree(data);
  }
};

struct Property {
  std::unique_ptr<unsigned char, XFreeDeleter> data;
  unsigned long items = 0;
  int format = 0;
};

std::optional<Property> readProperty(Connection& x, Window window, Atom name,
                                     Atom type, long maxLongs) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(x.display, window, name, 0, maxLongs, False,
                                  type, &actualType, &actualFormat, &items,
                                  &remaining, &data);
  Property property{std::unique_ptr<unsigned char, XFreeDeleter>(data), items,
                    actualFormat};
  if (status != Success || actualType != type || property.data == nullptr) {
    return std::nullopt;
  }
  return property;
}

// Format-32 items arrive as longs, whatever the size of long.
std::vector<unsigned long> longItems(const Property& property) {
  std::vector<unsigned long> items;
  if (property.format != 32) return items;
  items.resize(property.items);
  std::memcpy(items.data(), property.data.get(),
              property.items * sizeof(unsigned long));
  return items;
}

std::optional<Window> windowProperty(Connection& x, Window window, Atom name) {
  auto property = readProperty(x, window, name, XA_WINDOW, 1);
  if (!property) return std::nullopt;
  auto items = longItems(*property);
  if (items.empty() || items[0] == None) return std::nullopt;
  return static_cast<Window>(items[0]);
}

std::optional<std::string> utf8Property(Connection& x, Window window, Atom name) {
  auto property = readProperty(x, window, name, x.atoms[utf8String], 4096);
  if (!property || property->format != 8 || property->items == 0) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(property->data.get()),
                     property->items);
}

Window root(Connection& x) { return XDefaultRootWindow(x.display); }

std::optional<Pid> windowPid(Connection& x, Window window) {
  auto property = readProperty(x, window, x.atoms[netWmPid], XA_CARDINAL, 1);
  if (!property) return std::nullopt;
  auto items = longItems(*property);
  if (items.empty() || items[0] == 0 ||
      items[0] > static_cast<unsigned long>(std::numeric_limits<Pid>::max())) {
    return std::nullopt;
  }
  return static_cast<Pid>(items[0]);
}

// An EWMH window manager is running when the check window it names on the
// root names itself too; otherwise the root's EWMH properties are left over.
bool ewmhManagerRunning(Connection& x) {
  if (x.managerRunning) return *x.managerRunning;
  auto check = windowProperty(x, root(x), x.atoms[netSupportingWmCheck]);
  auto self = check ? windowProperty(x, *check, x.atoms[netSupportingWmCheck])
                    : std::nullopt;
  x.managerRunning = check && self && *self == *check;
  x.managerCheck = *x.managerRunning ? *check : None;
  return *x.managerRunning;
}

struct Active {
  Window window = None;
  std::optional<Pid> pid;
};

// The last answer about the active window, while it is fresh.
Fresh<Active>& knownActive() {
  static Fresh<Active> active;
  return active;
}

std::unordered_map<Pid, Fresh<std::vector<WindowId>>>& knownWindows() {
  static std::unordered_map<Pid, Fresh<std::vector<WindowId>>> windows;
  return windows;
}

bool managerSupports(Connection& x, Atom feature) {
  if (!ewmhManagerRunning(x)) return false;
  auto property = readProperty(x, root(x), x.atoms[netSupported], XA_ATOM, 1024);
  if (!property) return false;
  auto atoms = longItems(*property);
  return std::find(atoms.begin(), atoms.end(), feature) != atoms.end();
}

// Top-level client windows, topmost first.
std::vector<Window> topLevelWindows(Connection& x) {
  std::vector<Window> windows;
  if (ewmhManagerRunning(x)) {
    for (AtomIndex list : {netClientListStacking, netClientList}) {
      auto property = readProperty(x, root(x), x.atoms[list], XA_WINDOW, 65536);
      if (!property) continue;
      for (unsigned long item : longItems(*property)) {
        windows.push_back(static_cast<Window>(item));
      }
      // The stacking list runs bottom to top; the plain one in mapping order,
      // oldest first.
      std::reverse(windows.begin(), windows.end());
      return windows;
    }
  }
  // No window manager: the root's children are the top-level windows,
  // listed bottom to top.
  Window rootReturn = None;
  Window parentReturn = None;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(x.display, root(x), &rootReturn, &parentReturn, &children,
                 &count) != 0 &&
      children != nullptr) {
    windows.assign(children, children + count);
    std::reverse(windows.begin(), windows.end());
  }
  if (children != nullptr) XFree(children);
  return windows;
}

bool viewable(Connection& x, Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(x.display, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

// Delivers the X events of the display on the GLib main loop: the
// connection's socket wakes the loop, and events Xlib already read while
// waiting for a reply are seen before the loop sleeps again.
struct EventSource {
  GSource source;
  Connection* x;
  gpointer socket;
  void (*activeWindowChanged)();
};

bool eventsQueued(EventSource* self) {
  return !connectionLost && XEventsQueued(self->x->display, QueuedAlready) > 0;
}

gboolean eventsWaiting(GSource* base, gint* timeout) {
  *timeout = -1;
  return eventsQueued(reinterpret_cast<EventSource*>(base));
}

gboolean eventsArrived(GSource* base) {
  auto* self = reinterpret_cast<EventSource*>(base);
  return (g_source_query_unix_fd(base, self->socket) & G_IO_IN) != 0 ||
         eventsQueued(self);
}

// Follows the window manager's check window, so that its going away is
// seen as an event.
void watchManagerCheck(Connection& x) {
  if (ewmhManagerRunning(x)) XSelectInput(x.display, x.managerCheck, StructureNotifyMask);
}

gboolean handleEvents(GSource* base, GSourceFunc, gpointer) {
  auto* self = reinterpret_cast<EventSource*>(base);
  Connection& x = *self->x;
  bool changed = false;
  bool managerChanged = false;
  while (!connectionLost && XPending(x.display) > 0) {
    XEvent event{};
    XNextEvent(x.display, &event);
    if (event.type == PropertyNotify) {
      changed = changed || event.xproperty.atom == x.atoms[netActiveWindow];
      managerChanged = managerChanged ||
                       event.xproperty.atom == x.atoms[netSupportingWmCheck];
    } else if (event.type == DestroyNotify && x.managerCheck != None &&
               event.xdestroywindow.window == x.managerCheck) {
      managerChanged = true;
    }
  }
  // Windows, their owners and the window manager may all have changed.
  desktopMayHaveChanged();
  if (managerChanged && !connectionLost) {
    x.managerRunning.reset();
    x.managerCheck = None;
    watchManagerCheck(x);
    XFlush(x.display);
  }
  if (changed) self->activeWindowChanged();
  return connectionLost ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

}  // namespace

BusProperty accessibilityBusProperty() {
  BusProperty answer;
  Connection* x = connection();
  if (x == nullptr) return answer;
  // libatspi drops the screen number from DISPLAY and so reads the first
  // screen's root, at most this many 32-bit units (BUFSIZ).
  constexpr long maxLongs = 8192;
  Atom actualType = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  // Asked for any type, the answer carries the actual one.
  int status = XGetWindowProperty(x->display, RootWindow(x->display, 0),
                                  x->atoms[atSpiBus], 0, maxLongs, False,
                                  AnyPropertyType, &actualType, &format, &items,
                                  &remaining, &data);
  std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
  if (status != Success || actualType == None) return answer;
  answer.present = items > 0 || remaining > 0;
  if (actualType == XA_STRING && format == 8 && owned) {
    const char* text = reinterpret_cast<const char*>(owned.get());
    answer.address.assign(text, strnlen(text, items));
  }
  return answer;
}

std::optional<Pid> activeWindowPid() {
  if (const Active* known = knownActive().get()) return known->pid;
  Connection* x = connection();
  if (x == nullptr || !ewmhManagerRunning(*x)) return std::nullopt;
  Active active;
  if (auto window = windowProperty(*x, root(*x), x->atoms[netActiveWindow])) {
    active.window = *window;
    active.pid = windowPid(*x, *window);
  }
  knownActive().set(active);
  return active.pid;
}

std::optional<WindowId> knownActiveWindowOf(Pid pid) {
  const Active* known = knownActive().get();
  if (known == nullptr || known->window == None || known->pid != pid) return std::nullopt;
  return known->window;
}

std::vector<WindowId> windowsOfPid(Pid pid) {
  std::vector<WindowId> owned;
  Connection* x = connection();
  if (x == nullptr || pid <= 0) return owned;
  auto& windows = knownWindows();
  std::erase_if(windows, [](const auto& entry) { return entry.second.get() == nullptr; });
  if (auto known = windows.find(pid); known != windows.end()) return *known->second.get();
  for (Window window : topLevelWindows(*x)) {
    if (windowPid(*x, window) == pid) owned.push_back(window);
  }
  windows[pid].set(owned);
  return owned;
}

std::optional<WindowClass> windowClass(WindowId window) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  XClassHint hint{};
  if (XGetClassHint(x->display, static_cast<Window>(window), &hint) == 0) {
    return std::nullopt;
  }
  WindowClass result{hint.res_name != nullptr ? hint.res_name : "",
                     hint.res_class != nullptr ? hint.res_class : ""};
  if (hint.res_name != nullptr) XFree(hint.res_name);
  if (hint.res_class != nullptr) XFree(hint.res_class);
  return result;
}

std::optional<std::string> gtkApplicationId(WindowId window) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  return utf8Property(*x, static_cast<Window>(window),
                      x->atoms[gtkApplicationIdAtom]);
}

std::optional<std::string> windowTitle(WindowId window) {
  Connection* x = connection();
  if (x == nullptr) return std::nullopt;
  return utf8Property(*x, static_cast<Window>(window), x->atoms[netWmName]);
}

std::optional<Origin> windowOrigin(WindowId window) {
  Connection* x = connection();
  if (x == nullptr || window == None) return std::nullopt;
  int originX = 0;
  int originY = 0;
  Window child = None;
  if (XTranslateCoordinates(x->display, static_cast<Window>(window), root(*x), 0,
                            0, &originX, &originY, &child) == 0) {
    return std::nullopt;
  }
  return Origin{originX, originY};
}

bool watchActiveWindow(void (*changed)()) {
  Connection* x = connection();
  if (x == nullptr || changed == nullptr || !ewmhManagerRunning(*x)) return false;
  static GSourceFuncs functions{eventsWaiting, eventsArrived, handleEvents,
                                nullptr, nullptr, nullptr};
  XSelectInput(x->display, root(*x), PropertyChangeMask);
  watchManagerCheck(*x);
  XFlush(x->display);
  GSource* base = g_source_new(&functions, sizeof(EventSource));
  auto* source = reinterpret_cast<EventSource*>(base);
  source->x = x;
  source->activeWindowChanged = changed;
  source->socket = g_source_add_unix_fd(base, XConnectionNumber(x->display), G_IO_IN);
  // Attached to the default main context for the rest of the process.
  g_source_attach(base, nullptr);
  g_source_unref(base);
  return true;
}

bool activate(const std::vector<WindowId>& windows) {
  Connection* x = connection();
  if (x == nullptr || windows.empty()) return false;
  if (managerSupports(*x, x->atoms[netActiveWindow])) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.serial = 0;
    event.xclient.send_event = True;
    event.xclient.display = x->display;
    event.xclient.window = static_cast<Window>(windows.front());
    event.xclient.message_type = x->atoms[netActiveWindow];
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // source indication: a pager, not an application
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = 0;  // focusctl has no window of its own
    Status sent = XSendEvent(x->display, root(*x), False,
                             SubstructureRedirectMask | SubstructureNotifyMask,
                             &event);
    // XSync, not XFlush: the process exits right after this, and a server that
    // sees the hang-up before reading the request drops it unread.
    XSync(x->display, False);
    return sent != 0;
  }
  // Without a window manager nobody else decides: raise and focus directly.
  for (WindowId id : windows) {
    auto window = static_cast<Window>(id);
    if (!viewable(*x, window)) continue;
    XRaiseWindow(x->display, window);
    XSetInputFocus(x->display, window, RevertToParent, CurrentTime);
    XSync(x->display, False);
    return true;
  }
  return false;
}

}  // namespace focusctl::platform::x11
