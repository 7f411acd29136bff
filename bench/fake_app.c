/* A fake accessibility desktop for testing and measuring focusctl against
 * applications that misbehave: on the bus in AT_SPI_BUS_ADDRESS it plays the
 * registry and one application, whose tree is computed from object paths
 * ("/<kind>/<n>"), so that a million elements cost nothing until asked for.
 *
 *   fake_app SCENARIO [N] [--last]
 *
 * N sizes the scenario (entries, depth, fan-out or megabytes of text);
 * --last puts the focus on the last of many entries instead of the first.
 * Standard output: "ready" once the registry's name is owned; in the storm
 * scenario, SIGUSR1 starts the storm, and "storm-end T" tells when its last
 * signal went out (T: CLOCK_MONOTONIC in microseconds).
 * The process ends when its bus does. */

#define _GNU_SOURCE
#include <atspi/atspi-constants.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <systemd/sd-bus.h>
#include <time.h>

#define REGISTRY "org.a11y.atspi.Registry"
#define ROOT_PATH "/org/a11y/atspi/accessible/root"
#define UNKNOWN_METHOD "org.freedesktop.DBus.Error.UnknownMethod"
#define IFACE(name) "org.a11y.atspi." name

enum Shape { FLAT, CYCLE, CYCLE_WIDE, CHAIN, HUGE_COUNT };
enum {
  BUTTONS = 1 << 0,          /* the flat window holds buttons, not entries */
  COLLECTION = 1 << 1,       /* the window answers Collection.GetMatches */
  ALL_FOCUSED = 1 << 2,      /* every entry says FOCUSED */
  FOCUS_AT_BOTTOM = 1 << 3,  /* the chain's focus is its last element */
  NO_GET_CHILDREN = 1 << 4,  /* children only by count and index */
  SLOW = 1 << 5,             /* the application answers 700 ms late */
  BIG_TEXT = 1 << 6,         /* N megabytes of text in the entry */
  INTERFACES_FAIL = 1 << 7,  /* GetInterfaces answers an error */
  INTERFACES_WRONG = 1 << 8, /* GetInterfaces answers a string */
  EXIT_ON_ACTION = 1 << 9,   /* the entry has an action; asking for it ends us */
  STATE_UNKNOWN = 1 << 10,   /* the entry's GetState is an unknown method */
  STORM = 1 << 11,           /* SIGUSR1: a storm of focus events */
};

static const struct Scenario {
  const char *name;
  enum Shape shape;
  long size; /* the default N */
  unsigned flags;
} scenarios[] = {
    {"plain", FLAT, 1, 0},
    {"button", FLAT, 1, BUTTONS},
    {"cycle", CYCLE, 0, 0},
    {"cycle-wide", CYCLE_WIDE, 100, 0},
    {"deep", CHAIN, 100000, 0},
    {"deep-focus", CHAIN, 100000, FOCUS_AT_BOTTOM},
    {"huge-count", HUGE_COUNT, 0, NO_GET_CHILDREN},
    {"wide", FLAT, 1000000, 0},
    {"slow", FLAT, 1, SLOW},
    {"many-focused", FLAT, 2000, COLLECTION | ALL_FOCUSED},
    {"big-text", FLAT, 50, BIG_TEXT},
    {"interfaces-fail", FLAT, 1, INTERFACES_FAIL},
    {"interfaces-wrong-type", FLAT, 1, INTERFACES_WRONG},
    {"exits-on-action", FLAT, 1, EXIT_ON_ACTION},
    {"unknown-method-state", FLAT, 1, COLLECTION | STATE_UNKNOWN},
    {"storm", FLAT, 3, STORM},
};

/* Kinds: d the registry's desktop, r the application, w its window, e an
 * entry, b a button, p a panel. n: index or depth. */
typedef struct {
  char kind;
  long n;
} Node;

static const struct Scenario *scenario;
static long size, entries, focus, focus_depth;
static const char *unique;
static char *text;
static long text_chars;

static const Node window = {'w', 0};
static const Node root = {'r', 0};

/* The element at a depth of the deep scenarios' chain or of the cycle-wide
 * tree: the window at 0, the focused entry at focus_depth, else a panel. */
static Node at_depth(long depth) {
  Node node = {depth == focus_depth ? 'e' : 'p', depth};
  return depth == 0 ? window : node;
}

static long child_count(Node node) {
  switch (node.kind) {
    case 'd': case 'r': return 1;
    case 'w':
      switch (scenario->shape) {
        case FLAT: return entries;
        case CYCLE: case CHAIN: return 1;
        case CYCLE_WIDE: return size;
        case HUGE_COUNT: return INT32_MAX;
      }
      return 0;
    default:
      switch (scenario->shape) {
        case CYCLE: return node.kind == 'p' ? (node.n == 1 ? 2 : 1) : 0;
        case CYCLE_WIDE: return size;
        case CHAIN: return node.n < size ? 1 : 0;
        default: return 0;
      }
  }
}

static Node child_at(Node node, long i) {
  if (node.kind == 'd') return root;
  if (node.kind == 'r') return window;
  switch (scenario->shape) {
    case FLAT: return (Node){scenario->flags & BUTTONS ? 'b' : 'e', i};
    case HUGE_COUNT: return (Node){i == 0 ? 'e' : 'p', i};
    case CHAIN: return at_depth(node.n + 1);
    case CYCLE:
      /* window > panel 1 > [entry, panel 2 > window] */
      if (node.kind == 'w') return (Node){'p', 1};
      if (node.n == 1) return i == 0 ? (Node){'e', 0} : (Node){'p', 2};
      return window;
    case CYCLE_WIDE:
      /* One child leads down; the others point back up at an ancestor. */
      if (i == size - 1 && node.n < focus_depth) return at_depth(node.n + 1);
      return at_depth(i % (node.n + 1));
  }
  return window;
}

static Node parent_of(Node node) {
  switch (node.kind) {
    case 'd': return (Node){0, 0};
    case 'r': return (Node){'d', 0};
    case 'w': return root;
  }
  switch (scenario->shape) {
    case CYCLE: return node.kind == 'e' || node.n == 2 ? (Node){'p', 1} : (Node){'p', 2};
    case CYCLE_WIDE: case CHAIN: return at_depth(node.n - 1);
    default: return window;
  }
}

static int is_focused(Node node) {
  if (node.kind != 'e' && node.kind != 'b') return 0;
  return (scenario->flags & ALL_FOCUSED) || node.n == focus;
}

static int append_ref(sd_bus_message *m, Node node) {
  char path[48];
  const char *bus = unique;
  if (node.kind == 'd') bus = REGISTRY;
  if (node.kind == 'd' || node.kind == 'r') {
    snprintf(path, sizeof path, "%s", ROOT_PATH);
  } else if (node.kind == 0) {
    snprintf(path, sizeof path, "/org/a11y/atspi/null");
  } else {
    snprintf(path, sizeof path, "/%c/%ld", node.kind, node.n);
  }
  return sd_bus_message_append(m, "(so)", bus, path);
}

/* Replies with one reference, as it is or as a property's variant. */
static int reply_ref(sd_bus_message *m, Node node, int in_variant) {
  sd_bus_message *reply = NULL;
  int r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0 && in_variant) r = sd_bus_message_open_container(reply, 'v', "(so)");
  if (r >= 0) r = append_ref(reply, node);
  if (r >= 0 && in_variant) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(NULL, reply, NULL);
  sd_bus_message_unref(reply);
  return r;
}

static uint32_t role_of(Node node) {
  switch (node.kind) {
    case 'd': return ATSPI_ROLE_DESKTOP_FRAME;
    case 'r': return ATSPI_ROLE_APPLICATION;
    case 'w': return ATSPI_ROLE_FRAME;
    case 'e': return ATSPI_ROLE_ENTRY;
    case 'b': return ATSPI_ROLE_PUSH_BUTTON;
    default: return ATSPI_ROLE_PANEL;
  }
}

#define BIT(state) (1u << ATSPI_STATE_##state)
static uint32_t states_of(Node node) {
  uint32_t shown = BIT(VISIBLE) | BIT(SHOWING) | BIT(ENABLED) | BIT(SENSITIVE);
  uint32_t focused = is_focused(node) ? BIT(FOCUSED) : 0;
  switch (node.kind) {
    case 'w': return shown | BIT(ACTIVE);
    case 'e': return shown | focused | BIT(FOCUSABLE) | BIT(EDITABLE) | BIT(SINGLE_LINE);
    case 'b': return shown | focused | BIT(FOCUSABLE);
    case 'p': return shown;
    default: return 0;
  }
}

static int has_action(Node node) {
  return node.kind == 'b' || (node.kind == 'e' && (scenario->flags & EXIT_ON_ACTION));
}

static int reply_interfaces(sd_bus_message *m, Node node) {
  const char *list[8] = {IFACE("Accessible")};
  int n = 1;
  if (scenario->flags & INTERFACES_FAIL) {
    return sd_bus_reply_method_errorf(m, "org.freedesktop.DBus.Error.Failed", "refused");
  }
  if (scenario->flags & INTERFACES_WRONG) return sd_bus_reply_method_return(m, "s", IFACE("Text"));
  if (node.kind == 'r') list[n++] = IFACE("Application");
  if (node.kind != 'd' && node.kind != 'r') list[n++] = IFACE("Component");
  if (node.kind == 'w' && (scenario->flags & COLLECTION)) list[n++] = IFACE("Collection");
  if (node.kind == 'e') {
    list[n++] = IFACE("Text");
    list[n++] = IFACE("EditableText");
  }
  if (has_action(node)) list[n++] = IFACE("Action");
  sd_bus_message *reply = NULL;
  int r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_append_strv(reply, (char **)list);
  if (r >= 0) r = sd_bus_send(NULL, reply, NULL);
  sd_bus_message_unref(reply);
  return r;
}

/* Where the text's character that many characters on begins. */
static const char *utf8_at(const char *from, long characters) {
  for (; *from && characters > 0; --characters) {
    ++from;
    while ((*from & 0xc0) == 0x80) ++from;
  }
  return from;
}

static int reply_text(sd_bus_message *m, int32_t start, int32_t end) {
  if (start < 0) start = 0;
  if (end < 0 || end > text_chars) end = (int32_t)text_chars;
  if (start == 0 && end == text_chars) return sd_bus_reply_method_return(m, "s", text);
  const char *first = utf8_at(text, start);
  const char *last = start < end ? utf8_at(first, end - start) : first;
  char *part = strndup(first, (size_t)(last - first));
  int r = part ? sd_bus_reply_method_return(m, "s", part) : -ENOMEM;
  free(part);
  return r;
}

static void take_text(char *value) {
  if (!value) exit(1);
  free(text);
  text = value;
  text_chars = 0;
  for (const char *c = text; *c; ++c) text_chars += (*c & 0xc0) != 0x80;
}

/* The node's children, or the FOCUSED entries a Collection query matches
 * (at most count of them, when it is positive). */
static int reply_refs(sd_bus_message *m, Node node, int matches, int32_t count) {
  int all = scenario->flags & ALL_FOCUSED;
  long total = !matches ? child_count(node) : all ? entries : 1;
  if (matches && count > 0 && count < total) total = count;
  sd_bus_message *reply = NULL;
  int r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "(so)");
  for (long i = 0; r >= 0 && i < total; ++i) {
    r = append_ref(reply, !matches ? child_at(node, i) : (Node){'e', all ? i : focus});
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(NULL, reply, NULL);
  sd_bus_message_unref(reply);
  return r;
}

static int reply_property(sd_bus_message *m, Node node) {
  const char *interface = NULL, *name = NULL;
  char label[32] = "";
  if (sd_bus_message_read(m, "ss", &interface, &name) < 0) return -EINVAL;
  if (node.kind == 'r') snprintf(label, sizeof label, "fake-app");
  if (node.kind == 'w') snprintf(label, sizeof label, "Fake Window");
  if (node.kind == 'e' || node.kind == 'b') {
    snprintf(label, sizeof label, "%s %ld", node.kind == 'e' ? "entry" : "button", node.n);
  }
  if (!strcmp(name, "Name")) return sd_bus_reply_method_return(m, "v", "s", label);
  if (!strcmp(name, "Description") || !strcmp(name, "AccessibleId")) {
    return sd_bus_reply_method_return(m, "v", "s", "");
  }
  if (!strcmp(name, "ChildCount")) {
    return sd_bus_reply_method_return(m, "v", "i", (int32_t)child_count(node));
  }
  if (!strcmp(name, "Parent")) return reply_ref(m, parent_of(node), 1);
  if (!strcmp(name, "CharacterCount") && node.kind == 'e') {
    return sd_bus_reply_method_return(m, "v", "i", (int32_t)text_chars);
  }
  if (node.kind == 'r' && (!strcmp(name, "ToolkitName") || !strcmp(name, "Version"))) {
    return sd_bus_reply_method_return(m, "v", "s", name[0] == 'T' ? "fake" : "1.0");
  }
  if (!strcmp(name, "NActions") && has_action(node)) {
    return sd_bus_reply_method_return(m, "v", "i", 1);
  }
  return sd_bus_reply_method_errorf(m, "org.freedesktop.DBus.Error.UnknownProperty", "%s", name);
}

static const char *action_name(Node node) { return node.kind == 'b' ? "click" : "activate"; }

/* Answers one method call of the registry or the application. */
static int answer(sd_bus_message *m) {
  const char *path = sd_bus_message_get_path(m);
  const char *member = sd_bus_message_get_member(m);
  const char *interface = sd_bus_message_get_interface(m);
  const char *destination = sd_bus_message_get_destination(m);
  int to_registry = destination && !strcmp(destination, REGISTRY);
  Node node = {0, 0};
  char kind = 0;
  if (!interface || !member || !path) return sd_bus_reply_method_errorf(m, UNKNOWN_METHOD, "?");
  if (!strcmp(interface, IFACE("Registry"))) {
    if (!strcmp(member, "GetRegisteredEvents")) return sd_bus_reply_method_return(m, "a(ss)", 0);
    if (!strcmp(member, "RegisterEvent") || !strcmp(member, "DeregisterEvent")) {
      return sd_bus_reply_method_return(m, "");
    }
  } else if (!strcmp(path, ROOT_PATH)) {
    node.kind = to_registry ? 'd' : 'r';
  } else if (!to_registry && sscanf(path, "/%c/%ld", &kind, &node.n) == 2 &&
             strchr("webp", kind) && node.n >= 0) {
    node.kind = kind;
  }
  if (!node.kind) {
    return sd_bus_reply_method_errorf(m, "org.freedesktop.DBus.Error.UnknownObject", "%s", path);
  }
  if (!strcmp(interface, "org.freedesktop.DBus.Properties") && !strcmp(member, "Get")) {
    return reply_property(m, node);
  }
  if (!strcmp(interface, IFACE("Accessible"))) {
    if (!strcmp(member, "GetRole")) return sd_bus_reply_method_return(m, "u", role_of(node));
    if (!strcmp(member, "GetState") && !(node.kind == 'e' && (scenario->flags & STATE_UNKNOWN))) {
      return sd_bus_reply_method_return(m, "au", 2, states_of(node), 0);
    }
    if (!strcmp(member, "GetAttributes")) return sd_bus_reply_method_return(m, "a{ss}", 0);
    if (!strcmp(member, "GetRelationSet")) return sd_bus_reply_method_return(m, "a(ua(so))", 0);
    if (!strcmp(member, "GetInterfaces")) return reply_interfaces(m, node);
    if (!strcmp(member, "GetApplication")) {
      return sd_bus_reply_method_return(m, "(so)", unique, ROOT_PATH);
    }
    if (!strcmp(member, "GetChildren") &&
        (node.kind == 'd' || !(scenario->flags & NO_GET_CHILDREN))) {
      return reply_refs(m, node, 0, 0);
    }
    int32_t at = 0;
    if (!strcmp(member, "GetChildAtIndex") && sd_bus_message_read(m, "i", &at) >= 0) {
      if (at < 0 || at >= child_count(node)) {
        return sd_bus_reply_method_errorf(m, "org.freedesktop.DBus.Error.InvalidArgs", "index");
      }
      return reply_ref(m, child_at(node, at), 0);
    }
  }
  if (!strcmp(interface, IFACE("Component")) && !strcmp(member, "GetExtents") &&
      node.kind != 'd' && node.kind != 'r') {
    return sd_bus_reply_method_return(m, "(iiii)", 100, 100, 200, 30);
  }
  if (node.kind == 'e' && !strcmp(interface, IFACE("Text")) && !strcmp(member, "GetText")) {
    int32_t start = 0, end = 0;
    if (sd_bus_message_read(m, "ii", &start, &end) >= 0) return reply_text(m, start, end);
  }
  if (node.kind == 'e' && !strcmp(interface, IFACE("EditableText")) &&
      !strcmp(member, "SetTextContents")) {
    const char *value = NULL;
    if (sd_bus_message_read(m, "s", &value) >= 0) {
      take_text(strdup(value));
      return sd_bus_reply_method_return(m, "b", 1);
    }
  }
  if (has_action(node) && !strcmp(interface, IFACE("Action"))) {
    if (scenario->flags & EXIT_ON_ACTION) exit(0);
    if (!strcmp(member, "GetActions")) {
      return sd_bus_reply_method_return(m, "a(sss)", 1, action_name(node), "", "");
    }
    if (!strcmp(member, "GetName")) return sd_bus_reply_method_return(m, "s", action_name(node));
    if (!strcmp(member, "DoAction")) return sd_bus_reply_method_return(m, "b", 1);
  }
  if (node.kind == 'w' && (scenario->flags & COLLECTION) &&
      !strcmp(interface, IFACE("Collection")) && !strcmp(member, "GetMatches")) {
    uint32_t sort = 0;
    int32_t count = 0;
    int traverse = 0;
    if (sd_bus_message_skip(m, "(aiia{ss}iaiiasib)") >= 0 &&
        sd_bus_message_read(m, "uib", &sort, &count, &traverse) >= 0) {
      return reply_refs(m, node, 1, count);
    }
  }
  return sd_bus_reply_method_errorf(m, UNKNOWN_METHOD, "%s.%s", interface, member);
}

/* The slow application's calls, answered in arrival order once due. */
static struct Late {
  sd_bus_message *call;
  uint64_t due;
} *late;
static size_t late_first, late_count, late_room;

static uint64_t now_us(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000000 + (uint64_t)now.tv_nsec / 1000;
}

static int on_message(sd_bus_message *m, void *userdata, sd_bus_error *error) {
  (void)userdata;
  (void)error;
  if (!sd_bus_message_is_method_call(m, NULL, NULL)) return 0;
  const char *destination = sd_bus_message_get_destination(m);
  if ((scenario->flags & SLOW) && !(destination && !strcmp(destination, REGISTRY))) {
    if (late_first + late_count == late_room) {
      late_room = late_room ? late_room * 2 : 64;
      late = realloc(late, late_room * sizeof *late);
      if (!late) exit(1);
    }
    late[late_first + late_count++] = (struct Late){sd_bus_message_ref(m), now_us() + 700000};
    return 1;
  }
  answer(m);
  return 1;
}

/* Answers the late calls that are due; the time of the next one. */
static uint64_t answer_late(void) {
  while (late_count > 0 && late[late_first].due <= now_us()) {
    answer(late[late_first].call);
    sd_bus_message_unref(late[late_first].call);
    ++late_first;
    if (--late_count == 0) late_first = 0;
  }
  return late_count > 0 ? late[late_first].due : UINT64_MAX;
}

/* The storm: the focus moves between entries 0 and 1, 5,000 times a second
 * for 5 s, then to entry 2 for good. */
enum { storm_events = 25000, storm_us = 5000000 };
static volatile sig_atomic_t storm_asked;
static long storm_sent = -1;
static uint64_t storm_start;

static void on_usr1(int signal_number) {
  (void)signal_number;
  storm_asked = 1;
}

static int focus_event(sd_bus *bus, long entry) {
  char path[32];
  sd_bus_message *signal_message = NULL;
  focus = entry;
  snprintf(path, sizeof path, "/e/%ld", entry);
  int r = sd_bus_message_new_signal(bus, &signal_message, path, "org.a11y.atspi.Event.Object",
                                    "StateChanged");
  if (r >= 0) r = sd_bus_message_append(signal_message, "siiva{sv}", "focused", 1, 0, "i", 0, 0);
  if (r >= 0) r = sd_bus_send(bus, signal_message, NULL);
  sd_bus_message_unref(signal_message);
  return r;
}

/* Sends what is due of the storm; the time of its next signal. */
static uint64_t storm_step(sd_bus *bus) {
  if (storm_asked && storm_sent < 0) {
    storm_sent = 0;
    storm_start = now_us();
  }
  if (storm_sent < 0 || storm_sent > storm_events) return UINT64_MAX;
  uint64_t elapsed = now_us() - storm_start;
  long due = elapsed >= storm_us ? storm_events : (long)(elapsed * storm_events / storm_us);
  for (; storm_sent < due; ++storm_sent) focus_event(bus, (storm_sent + 1) % 2);
  if (storm_sent < storm_events) return now_us() + 10000;
  focus_event(bus, 2);
  printf("storm-end %llu\n", (unsigned long long)now_us());
  sd_bus_flush(bus);
  ++storm_sent;
  fflush(stdout);
  return UINT64_MAX;
}

static char *big_text(long megabytes) {
  static const char block[] = "Gr\xc3\xbc\xc3\x9f" "e \"\xe2\x9c\x93\" 0123456789 "
                              "abcdefghijklmnopqrstuvwxyz \\ \xf0\x9f\x98\x80\n";
  size_t length = sizeof block - 1;
  size_t copies = ((size_t)megabytes * 1048576 + length - 1) / length;
  char *whole = malloc(copies * length + 1);
  if (!whole) exit(1);
  for (size_t i = 0; i < copies; ++i) memcpy(whole + i * length, block, length);
  whole[copies * length] = '\0';
  return whole;
}

int main(int argc, char **argv) {
  int last = argc > 1 && !strcmp(argv[argc - 1], "--last");
  if (last) --argc;
  for (size_t i = 0; argc >= 2 && i < sizeof scenarios / sizeof *scenarios; ++i) {
    if (!strcmp(argv[1], scenarios[i].name)) scenario = &scenarios[i];
  }
  size = scenario && argc == 3 ? strtol(argv[2], NULL, 10) : scenario ? scenario->size : 0;
  /* A scenario sized at all needs a positive N. */
  if (!scenario || argc > 3 || size < (scenario->size > 0) || size > INT32_MAX) {
    fputs("usage: fake_app SCENARIO [N] [--last]; scenarios:", stderr);
    for (size_t i = 0; i < sizeof scenarios / sizeof *scenarios; ++i) {
      fprintf(stderr, " %s", scenarios[i].name);
    }
    fputc('\n', stderr);
    return 2;
  }
  unsigned flags = scenario->flags;
  entries = scenario->shape != FLAT || (flags & BIG_TEXT) ? 1 : size;
  focus = last ? entries - 1 : 0;
  focus_depth = scenario->shape == CHAIN ? ((flags & FOCUS_AT_BOTTOM) ? size : 10)
                : scenario->shape == CYCLE_WIDE ? 3 : -1;
  if (scenario->shape == CHAIN && !(flags & FOCUS_AT_BOTTOM)) size += focus_depth;
  if (scenario->shape == CHAIN || scenario->shape == CYCLE_WIDE) focus = focus_depth;
  take_text(flags & BIG_TEXT ? big_text(size) : strdup("hello"));

  sd_bus *bus = NULL;
  const char *address = getenv("AT_SPI_BUS_ADDRESS");
  int r = address ? sd_bus_new(&bus) : -EINVAL;
  if (r >= 0) r = sd_bus_set_address(bus, address);
  if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
  if (r >= 0) r = sd_bus_start(bus);
  if (r >= 0) r = sd_bus_get_unique_name(bus, &unique);
  if (r >= 0) r = sd_bus_add_filter(bus, NULL, on_message, NULL);
  /* Taken over from a fake application that is still leaving the bus. */
  if (r >= 0) {
    r = sd_bus_request_name(bus, REGISTRY,
                            SD_BUS_NAME_REPLACE_EXISTING | SD_BUS_NAME_ALLOW_REPLACEMENT);
  }
  if (r < 0) {
    fprintf(stderr, "fake_app: no accessibility bus in AT_SPI_BUS_ADDRESS: %s\n", strerror(-r));
    return 1;
  }
  struct sigaction storm_request = {.sa_handler = on_usr1};
  if (flags & STORM) sigaction(SIGUSR1, &storm_request, NULL);
  puts("ready");
  fflush(stdout);
  for (;;) {
    r = sd_bus_process(bus, NULL);
    if (r < 0) return 0;
    uint64_t next = answer_late();
    uint64_t storm_next = storm_step(bus);
    if (storm_next < next) next = storm_next;
    if (r > 0) continue;
    /* A storm may be asked for between the look above and the wait. */
    uint64_t timeout = next == UINT64_MAX ? UINT64_MAX : next > now_us() ? next - now_us() : 0;
    if ((flags & STORM) && timeout > 100000) timeout = 100000;
    r = sd_bus_wait(bus, timeout);
    if (r < 0 && r != -EINTR) return 0;
  }
}
