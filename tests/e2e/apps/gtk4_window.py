#!/usr/bin/env python3
"""A GTK 4 window for the end-to-end tests; the button prints "pressed". Run
with "token" it is a controller instead: each key typed into it prints
"token T", an activation token from the compositor for another application."""

import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gdk, Gio, Gtk  # noqa: E402


def print_token(*_):
    context = Gdk.Display.get_default().get_app_launch_context()
    target = Gio.AppInfo.create_from_commandline("true", None, Gio.AppInfoCreateFlags.NONE)
    print("token", context.get_startup_notify_id(target, []), flush=True)


def activate(app):
    # Activated again, as a desktop does, it shows the window it has.
    if app.get_active_window():
        app.get_active_window().present()
        return
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
    if sys.argv[1:] == ["token"]:
        keys = Gtk.EventControllerKey(propagation_phase=Gtk.PropagationPhase.CAPTURE)
        keys.connect("key-pressed", print_token)
        window.add_controller(keys)


app = Gtk.Application(application_id="org.focusctl.Gtk4Controller" if sys.argv[1:] == ["token"]
                      else "org.focusctl.Gtk4Window")
app.connect("activate", activate)
app.run(None)
