/* The floor of a one-shot query through libatspi: connects to the
 * accessibility bus, asks the registry for the number of applications on the
 * desktop, prints it and exits. No one-shot tool over libatspi can be faster
 * than this. focusctl was measured against it while it used libatspi; it is
 * kept to show what leaving libatspi saved (floor.c is the floor now).
 *
 *   floor             connect, one round trip, print the child count
 *   floor --no-bus    exit before touching the bus: the cost of starting a
 *                     process that links libatspi and GLib
 */

#include <atspi/atspi.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--no-bus") == 0) return 0;
  if (atspi_init() < 0) {
    fputs("floor: no accessibility bus\n", stderr);
    return 1;
  }
  AtspiAccessible *desktop = atspi_get_desktop(0);
  GError *error = NULL;
  gint count = atspi_accessible_get_child_count(desktop, &error);
  if (error) {
    fprintf(stderr, "floor: %s\n", error->message);
    g_error_free(error);
    return 1;
  }
  printf("%d\n", count);
  g_object_unref(desktop);
  return 0;
}
