#include "platform/atspi/focus_walk.h"

#include <algorithm>
#include <utility>

#include "platform/atspi/asked_ahead.h"

namespace focusctl::platform::atspi {
namespace {

using calls::ObjectRef;
using calls::StateBits;

bool unknownMethod(const bus::Outcome& outcome) {
  return outcome.errorName == wire::unknownMethod;
}

// Children by count and index, for toolkits without GetChildren: the counts
// travel together, then every child of every parent.
void childrenByIndex(const std::vector<ObjectRef>& parents, const std::vector<std::size_t>& which,
                     std::vector<std::optional<std::vector<ObjectRef>>>& result) {
  std::vector<bus::Reply<std::int32_t>> counts;
  counts.reserve(which.size());
  for (std::size_t index : which) counts.push_back(calls::childCount(parents[index]));
  std::vector<std::vector<bus::Reply<ObjectRef>>> asked(which.size());
  for (std::size_t i = 0; i < which.size(); ++i) {
    const std::int32_t* count = counts[i].get();
    if (count == nullptr) continue;
    for (std::int32_t child = 0; child < *count; ++child) {
      asked[i].push_back(calls::childAtIndex(parents[which[i]], child));
    }
  }
  for (std::size_t i = 0; i < which.size(); ++i) {
    if (counts[i].get() == nullptr) continue;
    std::vector<ObjectRef> children;
    for (auto& reply : asked[i]) {
      if (const ObjectRef* child = reply.get(); child != nullptr && !child->isNull()) {
        children.push_back(*child);
      }
    }
    result[which[i]] = std::move(children);
  }
}

using ElementsReply = bus::Reply<std::vector<ObjectRef>>;

// Collection queries and children lists sent ahead.
AskedAhead<std::vector<ObjectRef>>& askedMatches() {
  static auto& asked = *new AskedAhead<std::vector<ObjectRef>>;
  return asked;
}
AskedAhead<std::vector<ObjectRef>>& askedChildren() {
  static auto& asked = *new AskedAhead<std::vector<ObjectRef>>;
  return asked;
}

ElementsReply focusedMatches(const ObjectRef& window) {
  if (auto asked = askedMatches().take(window)) return std::move(*asked);
  return calls::matchesWithStates(window, calls::stateBit(ATSPI_STATE_FOCUSED), 0);
}

ElementsReply childrenOf(const ObjectRef& parent) {
  if (auto asked = askedChildren().take(parent)) return std::move(*asked);
  return calls::children(parent);
}

}  // namespace

void askChildren(const ObjectRef& parent) { askedChildren().put(parent, calls::children(parent)); }

void askFocusedByCollection(const ObjectRef& window) {
  askedMatches().put(window, focusedMatches(window));
}

std::vector<std::optional<std::vector<ObjectRef>>> childrenOfEach(
    const std::vector<ObjectRef>& parents) {
  std::vector<std::optional<std::vector<ObjectRef>>> result(parents.size());
  std::vector<bus::Reply<std::vector<ObjectRef>>> replies;
  replies.reserve(parents.size());
  for (const ObjectRef& parent : parents) replies.push_back(childrenOf(parent));
  std::vector<std::size_t> byIndex;
  for (std::size_t i = 0; i < parents.size(); ++i) {
    if (const auto* children = replies[i].get()) {
      std::vector<ObjectRef> kept;
      for (const ObjectRef& child : *children) {
        if (!child.isNull()) kept.push_back(child);
      }
      result[i] = std::move(kept);
    } else if (unknownMethod(replies[i].outcome())) {
      byIndex.push_back(i);
    }
  }
  if (!byIndex.empty()) childrenByIndex(parents, byIndex, result);
  return result;
}

std::optional<FocusWalk> focusedByCollection(const ObjectRef& window) {
  auto matches = focusedMatches(window);
  if (const auto* found = matches.get()) {
    FocusWalk walk;
    for (const ObjectRef& element : *found) {
      if (!element.isNull() && element != window) walk.focused.push_back(element);
    }
    return walk;
  }
  // No Collection (toolkits answer that in their own words), or a query
  // that failed: the walk finds what it can.
  return std::nullopt;
}

FocusWalk focusedByWalk(const ObjectRef& window) {
  FocusWalk walk;
  std::vector<ObjectRef> level{window};
  bool foundFocus = false;
  while (!level.empty()) {
    auto childLists = childrenOfEach(level);
    std::vector<ObjectRef> next;
    for (auto& children : childLists) {
      if (!children) {
        walk.complete = false;
        continue;
      }
      for (ObjectRef& child : *children) next.push_back(std::move(child));
    }
    if (next.empty()) break;
    std::vector<bus::Reply<StateBits>> states;
    states.reserve(next.size());
    for (const ObjectRef& element : next) states.push_back(calls::states(element));
    level.clear();
    std::vector<ObjectRef> focusedHere;
    for (std::size_t i = 0; i < next.size(); ++i) {
      const StateBits* bits = states[i].get();
      if (bits == nullptr) {
        walk.complete = false;
        continue;
      }
      if (calls::hasState(*bits, ATSPI_STATE_DEFUNCT)) continue;
      if (calls::hasState(*bits, ATSPI_STATE_FOCUSED)) {
        focusedHere.push_back(next[i]);
        walk.focused.push_back(next[i]);
      }
      // A focused element is searched for a deeper focus even where it
      // does not say VISIBLE.
      bool focused = calls::hasState(*bits, ATSPI_STATE_FOCUSED);
      if ((!focused && !calls::hasState(*bits, ATSPI_STATE_VISIBLE)) ||
          calls::hasState(*bits, ATSPI_STATE_MANAGES_DESCENDANTS)) {
        continue;
      }
      level.push_back(next[i]);
    }
    // Where focus is first found, only what lies inside the focused
    // elements can still hold a deeper focus; below them, everything does.
    if (!foundFocus && !focusedHere.empty()) {
      foundFocus = true;
      std::erase_if(level, [&](const ObjectRef& element) {
        return std::find(focusedHere.begin(), focusedHere.end(), element) == focusedHere.end();
      });
    }
  }
  return walk;
}

}  // namespace focusctl::platform::atspi
