#!/usr/bin/python3
"""The peer of `focusctl read` for the benchmarks: the same facts of the same
focused element, read the way a user of pyatspi would write it, printed as one
JSON line.

The active window is the one whose state set holds ACTIVE; its focused
descendant comes from one Collection query where the window offers
Collection, and from pyatspi's own depth-first search otherwise."""

import json

import pyatspi


def active_window():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None:
            continue
        for window in app:
            if window is not None and window.getState().contains(pyatspi.STATE_ACTIVE):
                return app, window
    return None, None


def focused_descendant(window):
    try:
        collection = window.queryCollection()
    except NotImplementedError:
        collection = None
    if collection is not None:
        rule = collection.createMatchRule(
            pyatspi.StateSet(pyatspi.STATE_FOCUSED), collection.MATCH_ALL,
            {}, collection.MATCH_NONE, [], collection.MATCH_NONE,
            [], collection.MATCH_NONE, False)
        matches = collection.getMatches(rule, collection.SORT_ORDER_CANONICAL, 1, True)
        return matches[0] if matches else None
    return pyatspi.findDescendant(
        window, lambda acc: acc.getState().contains(pyatspi.STATE_FOCUSED))


def facts(app, element):
    attributes = element.get_attributes() or {}
    try:
        text = element.queryText()
        value = text.getText(0, -1)
    except NotImplementedError:
        value = ""
    try:
        x, y, width, height = element.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except NotImplementedError:
        x = y = width = height = 0
    return {
        "ok": True,
        "pid": element.get_process_id(),
        "appName": app.name,
        "role": element.getRoleName(),
        "title": element.name,
        "description": element.description,
        "identifier": element.accessibleId or "",
        "text": value,
        "placeholder": attributes.get("placeholder-text", attributes.get("placeholder", "")),
        "domIdentifier": attributes.get("id", ""),
        "position": f"{{{x},{y}}}",
        "size": f"{{{width},{height}}}",
    }


def main():
    app, window = active_window()
    element = focused_descendant(window) if window is not None else None
    if element is None:
        print(json.dumps({"ok": False, "reason": "no-focused-element"}))
        return
    print(json.dumps(facts(app, element), ensure_ascii=False, separators=(",", ":")))


if __name__ == "__main__":
    main()
