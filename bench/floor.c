/* The floor of a one-shot accessibility query: the least any client of the
 * accessibility bus does. It finds the bus the way focusctl does
 * (AT_SPI_BUS_ADDRESS; else the session bus's org.a11y.Bus.GetAddress; else
 * the AT_SPI_BUS property of the X11 root window), connects, asks the
 * registry for the number of applications on the desktop, prints it and
 * exits. No library above D-Bus is loaded.
 *
 *   floor             connect, one registry round trip, print the count
 *   floor --no-bus    exit before connecting: the cost of starting a process
 *                     that links the D-Bus library and xcb
 *
 * Built with sd-bus (libsystemd) by default, with libdbus-1 when
 * FLOOR_LIBDBUS is defined: bench/run times both, which is how focusctl's
 * D-Bus library was chosen.
 */

#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

#define REGISTRY "org.a11y.atspi.Registry"
#define ROOT_PATH "/org/a11y/atspi/accessible/root"
#define TIMEOUT_MS 2000

/* The AT_SPI_BUS property of the first screen's root window; NULL without
 * one. The caller frees it. */
static char *bus_from_x11(void) {
  xcb_connection_t *x = xcb_connect(NULL, NULL);
  char *address = NULL;
  if (xcb_connection_has_error(x) == 0) {
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 1, strlen("AT_SPI_BUS"), "AT_SPI_BUS"), NULL);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    if (atom != NULL && atom->atom != XCB_ATOM_NONE && screen != NULL) {
      xcb_get_property_reply_t *property = xcb_get_property_reply(
          x, xcb_get_property(x, 0, screen->root, atom->atom, XCB_ATOM_STRING, 0, 1024),
          NULL);
      if (property != NULL && property->format == 8) {
        int length = xcb_get_property_value_length(property);
        address = strndup(xcb_get_property_value(property), (size_t)length);
      }
      free(property);
    }
    free(atom);
  }
  xcb_disconnect(x);
  return address;
}

#ifndef FLOOR_LIBDBUS

#include <systemd/sd-bus.h>

static char *bus_from_session(void) {
  sd_bus *session = NULL;
  char *address = NULL;
  if (sd_bus_open_user(&session) >= 0) {
    sd_bus_message *reply = NULL;
    const char *text = NULL;
    sd_bus_set_method_call_timeout(session, TIMEOUT_MS * 1000ULL);
    if (sd_bus_call_method(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                           "GetAddress", NULL, &reply, "") >= 0 &&
        sd_bus_message_read(reply, "s", &text) >= 0) {
      address = strdup(text);
    }
    sd_bus_message_unref(reply);
  }
  sd_bus_flush_close_unref(session);
  return address;
}

static int count_applications(const char *address) {
  sd_bus *bus = NULL;
  int count = -1;
  if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address) >= 0 &&
      sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
    sd_bus_message *reply = NULL;
    sd_bus_set_method_call_timeout(bus, TIMEOUT_MS * 1000ULL);
    if (sd_bus_call_method(bus, REGISTRY, ROOT_PATH, "org.freedesktop.DBus.Properties",
                           "Get", NULL, &reply, "ss", "org.a11y.atspi.Accessible",
                           "ChildCount") >= 0 &&
        sd_bus_message_read(reply, "v", "i", &count) < 0) {
      count = -1;
    }
    sd_bus_message_unref(reply);
  }
  sd_bus_unref(bus);
  return count;
}

#else

#include <dbus/dbus.h>

static DBusConnection *open_bus(const char *address) {
  DBusConnection *bus = dbus_connection_open_private(address, NULL);
  if (bus != NULL && !dbus_bus_register(bus, NULL)) {
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return NULL;
  }
  return bus;
}

static void close_bus(DBusConnection *bus) {
  if (bus == NULL) return;
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
}

static DBusMessage *call(DBusConnection *bus, DBusMessage *message) {
  DBusMessage *reply = NULL;
  if (message != NULL)
    reply = dbus_connection_send_with_reply_and_block(bus, message, TIMEOUT_MS, NULL);
  if (message != NULL) dbus_message_unref(message);
  return reply;
}

/* Only an address that is already known: libdbus would otherwise autolaunch
 * a session bus. */
static char *bus_from_session(void) {
  const char *session_address = getenv("DBUS_SESSION_BUS_ADDRESS");
  char fallback[4096];
  if (session_address == NULL || session_address[0] == '\0') {
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime == NULL || runtime[0] == '\0') return NULL;
    snprintf(fallback, sizeof fallback, "unix:path=%s/bus", runtime);
    session_address = fallback;
  }
  DBusConnection *session = open_bus(session_address);
  if (session == NULL) return NULL;
  char *address = NULL;
  DBusMessage *reply = call(session, dbus_message_new_method_call(
                                         "org.a11y.Bus", "/org/a11y/bus",
                                         "org.a11y.Bus", "GetAddress"));
  const char *text = NULL;
  if (reply != NULL &&
      dbus_message_get_args(reply, NULL, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
    address = strdup(text);
  if (reply != NULL) dbus_message_unref(reply);
  close_bus(session);
  return address;
}

static int count_applications(const char *address) {
  DBusConnection *bus = open_bus(address);
  if (bus == NULL) return -1;
  DBusMessage *get = dbus_message_new_method_call(
      REGISTRY, ROOT_PATH, "org.freedesktop.DBus.Properties", "Get");
  const char *interface = "org.a11y.atspi.Accessible", *property = "ChildCount";
  if (get != NULL)
    dbus_message_append_args(get, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                             &property, DBUS_TYPE_INVALID);
  DBusMessage *reply = call(bus, get);
  int count = -1;
  DBusMessageIter iter, variant;
  if (reply != NULL && dbus_message_iter_init(reply, &iter) &&
      dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
    dbus_message_iter_recurse(&iter, &variant);
    if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT32)
      dbus_message_iter_get_basic(&variant, &count);
  }
  if (reply != NULL) dbus_message_unref(reply);
  close_bus(bus);
  return count;
}

#endif

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--no-bus") == 0) return 0;
  const char *given = getenv("AT_SPI_BUS_ADDRESS");
  char *address = given != NULL && given[0] != '\0' ? strdup(given) : bus_from_session();
  if (address == NULL) address = bus_from_x11();
  if (address == NULL) {
    fputs("floor: no accessibility bus\n", stderr);
    return 1;
  }
  int count = count_applications(address);
  free(address);
  if (count < 0) {
    fputs("floor: the registry did not answer\n", stderr);
    return 1;
  }
  printf("%d\n", count);
  return 0;
}
