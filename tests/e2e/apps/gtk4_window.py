#!/usr/bin/env python3
"""A GTK 4 window for the end-to-end tests; the button prints "pressed"."""

import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gtk  # noqa: E402


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="GTK 4 window")
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    entry = Gtk.Entry(placeholder_text="Search mail")
    view = Gtk.TextView()
    view.get_buffer().set_text("first line")
    view.set_size_request(300, 80)
    button = Gtk.Button(label="Send")
    button.connect("clicked", lambda _: (print("pressed", flush=True), entry.grab_focus()))
    for widget in (entry, view, button):
        box.append(widget)
    window.set_child(box)
    window.present()
    (button if sys.argv[1:] == ["button"] else entry).grab_focus()


app = Gtk.Application(application_id="org.focusctl.Gtk4Window")
app.connect("activate", activate)
app.run(None)
