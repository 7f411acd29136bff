// Finding the FOCUSED element under a window over the bus, without libatspi.
// With Collection one query answers; without it (GTK 4, Qt) the tree is
// walked a level at a time, each level's calls in flight together, so a walk
// costs a few round trips per level of depth instead of several per element.
#pragma once

#include <optional>

#include "platform/atspi/atspi_calls.h"

namespace focusctl::platform::atspi {

struct FocusWalk {
  // Everything below the window that holds FOCUSED, shallowest first; an
  // element nested in another focused one (Qt marks a container and its
  // inner widget together) comes after it.
  std::vector<calls::ObjectRef> focused;
  // The walk or query could not be completed (a call failed or timed out),
  // so an empty list does not prove that nothing has focus.
  bool complete = true;
};

// One Collection query for every FOCUSED descendant, in document order, so
// that nested ones come after their container. Nothing when the window
// offers no Collection or the query failed.
std::optional<FocusWalk> focusedByCollection(const calls::ObjectRef& window);

// Sends that query now, before it is known to be needed, so that it travels
// with the window's state; focusedByCollection then takes its answer.
void askFocusedByCollection(const calls::ObjectRef& window);

// The level-by-level walk. What cannot hold the focus is not entered:
// subtrees that are not VISIBLE, defunct ones, containers that manage their
// descendants (tables and lists of thousands of transient cells), and, once
// a level has found focus, everything outside the focused elements (only a
// deeper focused element inside them can still matter). SHOWING does not
// prune: GTK 4.8 never reports it. No limit on the number of elements: the
// call budget bounds the time.
FocusWalk focusedByWalk(const calls::ObjectRef& window);

// The children of each element, all asked together: GetChildren where the
// toolkit has it, else the count and each child by index.
std::vector<std::optional<std::vector<calls::ObjectRef>>> childrenOfEach(
    const std::vector<calls::ObjectRef>& parents);

// Sends GetChildren now, before it is known to be needed; childrenOfEach
// takes the answer while it is fresh.
void askChildren(const calls::ObjectRef& parent);

}  // namespace focusctl::platform::atspi
