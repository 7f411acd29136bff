/* A window with many entries, for measuring how the focused-element lookup
 * grows with the size of the accessible tree. The focused entry is the last
 * one, so a search in tree order visits every other entry first.
 *
 *   wide-fixture [--entries N] [--app-name NAME]
 *
 * Builds against GTK 3 or GTK 4 (the same source; the toolkit is chosen by the
 * pkg-config package it is compiled with). GTK 3's bridge offers the
 * Collection interface on every object, GTK 4 (4.8) offers none, so the two
 * builds measure the lookup with and without Collection on the same layout.
 * Standard output: "ready" once the window is active and the last entry has
 * the focus. */

#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  GtkWidget *window;
  GtkWidget *last;
  gboolean ready_written;
} Wide;

static void write_ready(Wide *wide) {
  if (wide->ready_written) return;
  if (!gtk_window_is_active(GTK_WINDOW(wide->window))) return;
  if (!gtk_widget_has_focus(wide->last)
#if GTK_MAJOR_VERSION >= 4
      /* In GTK 4 the entry's inner text widget takes the focus. */
      && !gtk_widget_is_focus(gtk_widget_get_first_child(wide->last))
#endif
  ) {
    return;
  }
  wide->ready_written = TRUE;
  fputs("ready\n", stdout);
  fflush(stdout);
}

static gboolean check_ready_idle(gpointer user_data) {
  write_ready(user_data);
  return G_SOURCE_REMOVE;
}

static void on_active_changed(GObject *object, GParamSpec *pspec, gpointer user_data) {
  (void)object;
  (void)pspec;
  /* Let the entry's focus-in be handled before looking. */
  g_idle_add(check_ready_idle, user_data);
}

static void add_to_box(GtkWidget *box, GtkWidget *child) {
#if GTK_MAJOR_VERSION >= 4
  gtk_box_append(GTK_BOX(box), child);
#else
  gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0);
#endif
}

static void on_activate(GtkApplication *app, gpointer user_data) {
  Wide *wide = user_data;
  if (wide->window) return;
  long entries = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(app), "entries"));

  GtkWidget *window = gtk_application_window_new(app);
  gtk_window_set_title(GTK_WINDOW(window), "Wide Fixture");
  gtk_window_set_default_size(GTK_WINDOW(window), 480, 360);
  /* Rows of at most row_length entries: a realistic depth, and toolkits
   * whose work per child grows with the number of its siblings (CSS sibling
   * matching in GTK 3, child lookup by index in GTK 4) stay usable at 10,000. */
  enum { row_length = 100 };
  GtkWidget *rows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget *row = NULL;
  char text[32];
  for (long i = 0; i < entries; ++i) {
    if (i % row_length == 0) {
      row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
      add_to_box(rows, row);
    }
    GtkWidget *entry = gtk_entry_new();
    snprintf(text, sizeof text, "%ld", i + 1);
#if GTK_MAJOR_VERSION >= 4
    gtk_editable_set_width_chars(GTK_EDITABLE(entry), 5);
    gtk_editable_set_text(GTK_EDITABLE(entry), text);
#else
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 5);
    gtk_entry_set_text(GTK_ENTRY(entry), text);
#endif
    add_to_box(row, entry);
    wide->last = entry;
  }
  GtkWidget *box = rows;
  gtk_entry_set_placeholder_text(GTK_ENTRY(wide->last), "Last entry");
#if GTK_MAJOR_VERSION >= 4
  GtkWidget *scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), box);
  gtk_window_set_child(GTK_WINDOW(window), scrolled);
#else
  GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_container_add(GTK_CONTAINER(scrolled), box);
  gtk_container_add(GTK_CONTAINER(window), scrolled);
#endif
  gtk_window_set_focus(GTK_WINDOW(window), wide->last);
  wide->window = window;
  g_signal_connect(window, "notify::is-active", G_CALLBACK(on_active_changed), wide);
#if GTK_MAJOR_VERSION >= 4
  gtk_window_present(GTK_WINDOW(window));
#else
  gtk_widget_show_all(window);
#endif
}

int main(int argc, char **argv) {
  long entries = 100;
  const char *app_name = "wide-fixture";
  for (int i = 1; i < argc; ++i) {
    const char *value = i + 1 < argc ? argv[i + 1] : NULL;
    if (value && strcmp(argv[i], "--entries") == 0) {
      char *end = NULL;
      entries = strtol(value, &end, 10);
      if (*end != '\0' || entries < 1 || entries > 100000) entries = 0;
      ++i;
    } else if (value && strcmp(argv[i], "--app-name") == 0) {
      app_name = value;
      ++i;
    } else {
      entries = 0;
    }
    if (entries == 0) {
      fputs("usage: wide-fixture [--entries 1..100000] [--app-name NAME]\n", stderr);
      return 2;
    }
  }
  g_set_prgname(app_name);
  GtkApplication *app = gtk_application_new("org.focusctl.WideFixture", G_APPLICATION_NON_UNIQUE);
  g_object_set_data(G_OBJECT(app), "entries", GSIZE_TO_POINTER((gsize)entries));
  Wide wide = {0};
  g_signal_connect(app, "activate", G_CALLBACK(on_activate), &wide);
  char *no_arguments[] = {argv[0], NULL};
  int status = g_application_run(G_APPLICATION(app), 1, no_arguments);
  g_object_unref(app);
  return status;
}
