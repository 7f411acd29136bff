// Finding the FOCUSED element under a window over the bus, without libatspi.
// With Collection one query answers; without it (GTK 4, Qt) the tree is
// walked a level at a time, each level's calls in flight together, so a walk
// costs a few round trips per level of depth instead of several per element.
// Whatever the application reports, the search is finite: it visits each
// element once (a tree may loop back on itself), goes no deeper than
// maxWalkDepth levels, visits at most maxWalkElements elements, keeps at
// most pipelineDepth answers outstanding and stops asking when the
// command's time for searching is up.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/atspi/accessible/atspi_calls.h"

namespace focusctl::platform::atspi {

// Far beyond real applications (a few dozen levels, some thousands of
// elements in a window).
inline constexpr std::size_t maxWalkDepth = 512;
inline constexpr std::size_t maxWalkElements = 100'000;
// Answers outstanding at once: enough to keep the bus busy, few enough that
// the first answers are read before the last questions are even sent.
inline constexpr std::size_t pipelineDepth = 256;
// How many FOCUSED elements a Collection query asks for.
inline constexpr std::int32_t maxFocusedMatches = 32;
// The longest list asked for in one GetChildren reply; a longer one is
// asked child by child for as long as the search has time.
inline constexpr std::int32_t maxWholeList = 10'000;

// One element below the window that holds FOCUSED.
struct Focused {
  ObjectRef element;
  // The index of the nearest earlier one it lies inside; -1 for none.
  int inside = -1;
  // Its states; none where they are not known (a single match of a
  // Collection query needs no comparing).
  calls::StateBits states = 0;
};
// Shallowest first (the walk) or in document order (Collection); an element
// nested in another focused one (Qt marks a container and its inner widget
// together) comes after it.
using FocusWalk = std::vector<Focused>;

// One Collection query for the FOCUSED descendants, in document order, and
// the ancestry among them. Nothing when the window offers no Collection or
// the query failed.
std::optional<FocusWalk> focusedByCollection(const ObjectRef& window);

// Sends that query now, before it is known to be needed, so that it travels
// with the window's state; focusedByCollection then takes its answer.
void askFocusedByCollection(const ObjectRef& window);

// An open menu's current item and the menus it lies in, by one Collection
// query: GTK 3 marks them SELECTED, and nothing FOCUSED while the menu holds
// the keyboard (a combo box's popup list is such a menu too). Only menus
// and menu items that are SHOWING count, never a list's selected rows.
// Empty without Collection or when no menu is open.
FocusWalk selectedMenuItems(const ObjectRef& window);

// The level-by-level walk. What cannot hold the focus is not entered:
// subtrees that are not VISIBLE, defunct ones, containers that manage their
// descendants (tables and lists of thousands of transient cells), and, once
// a level has found a focused text field (FOCUSABLE and EDITABLE), everything
// outside such fields (nothing elsewhere can outrank it, below). SHOWING
// does not prune: GTK 4.8 never reports it. Where nothing else has focus,
// the items of short lists that manage their descendants are looked at too
// (Qt focuses an item of an open combo box's popup list).
FocusWalk focusedByWalk(const ObjectRef& window);

// The element holding the keyboard among the focused ones. Qt marks FOCUSED
// every widget whose focus proxy has the focus: the widget typed into, and
// its stand-ins (a tab, a text view's viewport, the buttons of a status
// bar), often FOCUSABLE too. So the states rank them: inside an ACTIVE
// focused element (an open popup menu, which holds the keyboard) first,
// then FOCUSABLE ones, then EDITABLE ones. Of the best rank, the deepest:
// a later one replaces an earlier one it lies inside (a container marked
// with the widget inside it); one outside that chain does not count. Null
// when there is none.
ObjectRef deepestFocused(const FocusWalk& walk);

// The children of each element: their counts first, then GetChildren where
// the toolkit has it and the list is short enough, else each child by index
// (at most maxListed). Nothing for an element whose children could not be
// listed.
std::vector<std::optional<std::vector<ObjectRef>>> childrenOfEach(
    const std::vector<ObjectRef>& parents);

// Sends GetChildren now, before it is known to be needed; childrenOfEach
// takes the answer while it is fresh.
void askChildren(const ObjectRef& parent);

}  // namespace focusctl::platform::atspi
