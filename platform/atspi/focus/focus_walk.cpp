#include "platform/atspi/focus/focus_walk.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <iterator>
#include <map>
#include <set>
#include <utility>

#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi {
namespace {

using calls::StateBits;

// Of a command's budget, what the search leaves for reading the element it
// found (a snapshot is one round trip, its text another).
constexpr std::chrono::milliseconds keptForTheAnswer{600};
// Listing children stops earlier still, so that the states of those
// listed are asked: a window of a million children is looked at in part
// rather than not at all.
constexpr std::chrono::milliseconds keptForStates{300};

bool outOfTime(std::chrono::milliseconds reserve) {
  std::optional<std::chrono::milliseconds> left = bus::budgetLeft();
  return left && *left < reserve;
}

// The search has used up its share of the command's time: what is left is
// kept for reading the element it found.
bool searchOutOfTime() { return outOfTime(keptForTheAnswer); }

bool listingOutOfTime() { return outOfTime(keptForTheAnswer + keptForStates); }

// Asks ask(i) for i in [0, count), at most pipelineDepth answers outstanding,
// and hands each answer to use(i, reply) in order, until stop() says the
// time is up.
template <typename T, typename Ask, typename Use>
void pipelined(std::size_t count, Ask ask, Use use, bool (*stop)() = searchOutOfTime) {
  std::deque<std::pair<std::size_t, bus::Reply<T>>> outstanding;
  bool asking = true;
  std::size_t next = 0;
  while (next < count || !outstanding.empty()) {
    while (asking && next < count && outstanding.size() < pipelineDepth) {
      if (stop()) {
        asking = false;
        break;
      }
      outstanding.emplace_back(next, ask(next));
      ++next;
    }
    if (outstanding.empty()) break;
    auto [index, reply] = std::move(outstanding.front());
    outstanding.pop_front();
    use(index, reply);
  }
}

using Lists = std::vector<std::optional<std::vector<ObjectRef>>>;

using ElementsReply = bus::Reply<std::vector<ObjectRef>>;

// Collection queries and children lists sent ahead, each taken once while
// fresh.
using AskedAhead = FreshMap<ObjectRef, ElementsReply>;
AskedAhead& askedMatches() {
  static auto& asked = *new AskedAhead;
  return asked;
}
AskedAhead& askedChildren() {
  static auto& asked = *new AskedAhead;
  return asked;
}

ElementsReply focusedMatches(const ObjectRef& window) {
  if (auto asked = askedMatches().take(window)) return std::move(*asked);
  return calls::matchesWithStates(window, calls::stateBit(ATSPI_STATE_FOCUSED), maxFocusedMatches);
}

// Where each focused element lies, by its parents: every element's chain
// is climbed a level a round, all chains together, until it meets an
// earlier focused element, the window, the root or the depth limit.
void linkByParents(FocusWalk& walk, const ObjectRef& window) {
  if (walk.size() < 2) return;
  std::map<ObjectRef, int> indexOf;
  for (std::size_t i = 0; i < walk.size(); ++i) {
    indexOf.emplace(walk[i].element, static_cast<int>(i));
  }
  struct Climb {
    int from;
    ObjectRef at;
  };
  std::vector<Climb> climbing;
  for (std::size_t i = 1; i < walk.size(); ++i) {
    climbing.push_back({static_cast<int>(i), walk[i].element});
  }
  for (std::size_t depth = 0; !climbing.empty(); ++depth) {
    if (depth >= maxWalkDepth || searchOutOfTime()) return;
    std::vector<bus::Reply<ObjectRef>> parents;
    for (const Climb& climb : climbing) parents.push_back(calls::parent(climb.at));
    std::vector<Climb> still;
    for (std::size_t c = 0; c < climbing.size(); ++c) {
      const ObjectRef* parent = parents[c].get();
      if (parent == nullptr || parent->isNull() || *parent == window) continue;
      auto found = indexOf.find(*parent);
      if (found != indexOf.end() && found->second < climbing[c].from) {
        walk[climbing[c].from].inside = found->second;
        continue;
      }
      still.push_back({climbing[c].from, *parent});
    }
    climbing = std::move(still);
  }
}

// The containers that manage their descendants looked into when nothing
// else has focus, and the most items such a popup list may have.
constexpr std::size_t maxManagedLooked = 32;
constexpr std::int32_t maxPopupItems = 256;

// Nothing outside the containers that manage their descendants has focus:
// an open popup list (Qt's combo box) holds it on one of its items. Lists
// short enough for a popup are looked into; a table of thousands of cells
// is not.
void focusedInSmallLists(const std::vector<ObjectRef>& containers, FocusWalk& walk) {
  if (containers.empty() || searchOutOfTime()) return;
  std::vector<bus::Reply<std::int32_t>> counts;
  for (const ObjectRef& container : containers) counts.push_back(calls::childCount(container));
  std::vector<ObjectRef> small;
  for (std::size_t i = 0; i < containers.size(); ++i) {
    const std::int32_t* count = counts[i].get();
    if (count != nullptr && *count > 0 && *count <= maxPopupItems) small.push_back(containers[i]);
  }
  // One list at a time, each cut to its count's limit: a list longer than
  // its count said is not held beside the others.
  std::vector<ObjectRef> items;
  for (const ObjectRef& container : small) {
    auto lists = childrenOfEach({container});
    if (!lists.front()) continue;
    std::vector<ObjectRef>& list = *lists.front();
    if (list.size() > static_cast<std::size_t>(maxPopupItems)) list.resize(maxPopupItems);
    std::move(list.begin(), list.end(), std::back_inserter(items));
  }
  pipelined<StateBits>(
      items.size(), [&](std::size_t i) { return calls::states(items[i]); },
      [&](std::size_t i, bus::Reply<StateBits>& states) {
        const StateBits* bits = states.get();
        if (bits == nullptr || !calls::hasState(*bits, ATSPI_STATE_FOCUSED) ||
            calls::hasState(*bits, ATSPI_STATE_DEFUNCT)) {
          return;
        }
        walk.push_back({items[i], -1, *bits});
      });
}

// The matches of a Collection query but the window itself, and where they
// lie among each other; with their states when several are to be ranked.
// Nothing when the query failed.
std::optional<FocusWalk> walkOfMatches(ElementsReply& matches, const ObjectRef& window,
                                       bool ranked) {
  const auto* found = matches.get();
  if (found == nullptr) return std::nullopt;
  FocusWalk walk;
  for (const ObjectRef& element : *found) {
    if (walk.size() == static_cast<std::size_t>(maxFocusedMatches)) break;
    if (!element.isNull() && element != window) walk.push_back({element});
  }
  // Asked while their parents are.
  std::vector<bus::Reply<StateBits>> states;
  if (ranked && walk.size() > 1) {
    for (const Focused& focused : walk) states.push_back(calls::states(focused.element));
  }
  linkByParents(walk, window);
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (const StateBits* bits = states[i].get()) walk[i].states = *bits;
  }
  return walk;
}

}  // namespace

void askChildren(const ObjectRef& parent) { askedChildren().put(parent, calls::children(parent)); }

void askFocusedByCollection(const ObjectRef& window) {
  askedMatches().put(window, focusedMatches(window));
}

Lists childrenOfEach(const std::vector<ObjectRef>& parents) {
  Lists result(parents.size());
  // Counts first, so that a list too long for one prompt reply is asked by
  // index instead; a count that cannot be had leaves the list to GetChildren.
  std::vector<std::optional<ElementsReply>> aheadOf(parents.size());
  std::vector<std::int32_t> counts(parents.size(), -1);
  std::vector<std::size_t> uncounted;
  for (std::size_t i = 0; i < parents.size(); ++i) {
    aheadOf[i] = askedChildren().take(parents[i]);
    if (!aheadOf[i]) uncounted.push_back(i);
  }
  pipelined<std::int32_t>(
      uncounted.size(), [&](std::size_t u) { return calls::childCount(parents[uncounted[u]]); },
      [&](std::size_t u, bus::Reply<std::int32_t>& count) {
        if (const std::int32_t* n = count.get()) counts[uncounted[u]] = *n;
      },
      listingOutOfTime);
  std::vector<std::size_t> byIndex;
  std::vector<std::size_t> whole;
  for (std::size_t i = 0; i < parents.size(); ++i) {
    if (counts[i] == 0) {
      result[i].emplace();
    } else if (counts[i] > maxWholeList) {
      byIndex.push_back(i);
    } else {
      whole.push_back(i);
    }
  }
  pipelined<std::vector<ObjectRef>>(
      whole.size(),
      [&](std::size_t w) {
        std::size_t i = whole[w];
        return aheadOf[i] ? std::move(*aheadOf[i]) : calls::children(parents[i]);
      },
      [&](std::size_t w, ElementsReply& reply) {
        if (std::optional<std::vector<ObjectRef>> children = reply.take()) {
          std::erase_if(*children, [](const ObjectRef& child) { return child.isNull(); });
          result[whole[w]] = std::move(children);
        } else if (reply.outcome().errorName == bus::unknownMethod) {
          byIndex.push_back(whole[w]);
        }
      },
      listingOutOfTime);
  // Children by index, for toolkits without GetChildren and for lists too
  // long to take in one reply. A count is the application's word: no more
  // than maxListed are asked, and no more than time allows.
  for (std::size_t i : byIndex) {
    if (listingOutOfTime()) break;
    if (counts[i] < 0) {  // asked ahead, uncounted
      auto count = calls::childCount(parents[i]);
      if (count.get() == nullptr) continue;
      counts[i] = *count.get();
    }
    std::vector<ObjectRef>& children = result[i].emplace();
    pipelined<ObjectRef>(
        std::min<std::size_t>(static_cast<std::size_t>(std::max(counts[i], 0)), calls::maxListed),
        [&](std::size_t child) {
          return calls::childAtIndex(parents[i], static_cast<std::int32_t>(child));
        },
        [&](std::size_t, bus::Reply<ObjectRef>& reply) {
          if (const ObjectRef* child = reply.get(); child != nullptr && !child->isNull()) {
            children.push_back(*child);
          }
        },
        listingOutOfTime);
  }
  return result;
}

std::optional<FocusWalk> focusedByCollection(const ObjectRef& window) {
  // No Collection (toolkits answer that in their own words), or a query
  // that failed: the walk finds what it can.
  auto matches = focusedMatches(window);
  return walkOfMatches(matches, window, true);
}

FocusWalk selectedMenuItems(const ObjectRef& window) {
  constexpr calls::RoleBits menus =
      calls::roleBit(ATSPI_ROLE_MENU) | calls::roleBit(ATSPI_ROLE_MENU_ITEM) |
      calls::roleBit(ATSPI_ROLE_CHECK_MENU_ITEM) | calls::roleBit(ATSPI_ROLE_RADIO_MENU_ITEM) |
      calls::roleBit(ATSPI_ROLE_TEAROFF_MENU_ITEM);
  auto matches = calls::matchesWithStates(
      window, calls::stateBit(ATSPI_STATE_SELECTED) | calls::stateBit(ATSPI_STATE_SHOWING),
      maxFocusedMatches, menus);
  return walkOfMatches(matches, window, false).value_or(FocusWalk{});
}

FocusWalk focusedByWalk(const ObjectRef& window) {
  FocusWalk walk;
  // Every element met, with the index of the nearest focused element it
  // lies inside: its own, once it is found focused.
  struct Node {
    ObjectRef element;
    int focusedIndex;
  };
  std::vector<Node> nodes{{window, -1}};
  std::set<ObjectRef> visited{window};
  std::vector<std::size_t> level{0};
  bool foundField = false;
  std::vector<ObjectRef> managed;
  for (std::size_t depth = 0; !level.empty(); ++depth) {
    if (depth >= maxWalkDepth || searchOutOfTime()) break;
    std::vector<ObjectRef> parents;
    for (std::size_t node : level) parents.push_back(nodes[node].element);
    Lists childLists = childrenOfEach(parents);
    std::vector<std::size_t> next;
    for (std::size_t l = 0; l < level.size(); ++l) {
      if (!childLists[l]) continue;
      for (ObjectRef& child : *childLists[l]) {
        if (visited.size() >= maxWalkElements) break;
        // A tree that loops back on itself is walked once.
        if (!visited.insert(child).second) continue;
        nodes.push_back({std::move(child), nodes[level[l]].focusedIndex});
        next.push_back(nodes.size() - 1);
      }
    }
    if (next.empty()) break;
    level.clear();
    std::vector<std::size_t> fieldsHere;
    pipelined<StateBits>(
        next.size(), [&](std::size_t i) { return calls::states(nodes[next[i]].element); },
        [&](std::size_t i, bus::Reply<StateBits>& states) {
          const StateBits* bits = states.get();
          if (bits == nullptr || calls::hasState(*bits, ATSPI_STATE_DEFUNCT)) return;
          std::size_t node = next[i];
          bool focused = calls::hasState(*bits, ATSPI_STATE_FOCUSED);
          if (focused) {
            walk.push_back({nodes[node].element, nodes[node].focusedIndex, *bits});
            nodes[node].focusedIndex = static_cast<int>(walk.size()) - 1;
            if (calls::hasState(*bits, ATSPI_STATE_FOCUSABLE) &&
                calls::hasState(*bits, ATSPI_STATE_EDITABLE)) {
              fieldsHere.push_back(node);
            }
          }
          // A focused element is searched for a deeper focus even where it
          // does not say VISIBLE.
          if (!focused && !calls::hasState(*bits, ATSPI_STATE_VISIBLE)) return;
          if (calls::hasState(*bits, ATSPI_STATE_MANAGES_DESCENDANTS)) {
            if (managed.size() < maxManagedLooked) managed.push_back(nodes[node].element);
            return;
          }
          level.push_back(node);
        });
    // Where a focused text field is first found, only what lies inside
    // such fields can still win (an inner widget of the same rank); a
    // focused element elsewhere is a stand-in whose focus proxy it is, or
    // of a lower rank. Before that, a focused element proves nothing: Qt
    // marks stand-ins in other branches, shallower than the real one.
    if (!foundField && !fieldsHere.empty()) {
      foundField = true;
      std::erase_if(level, [&](std::size_t node) {
        return std::find(fieldsHere.begin(), fieldsHere.end(), node) == fieldsHere.end();
      });
    }
  }
  if (walk.empty()) focusedInSmallLists(managed, walk);
  return walk;
}

ObjectRef deepestFocused(const FocusWalk& walk) {
  std::size_t count = walk.size();
  // Only an earlier index counts, so that every climb ends.
  auto outer = [&walk](std::size_t i) {
    return walk[i].inside < static_cast<int>(i) ? walk[i].inside : -1;
  };
  // An element lies inside only earlier ones, so each rank needs only the
  // ranks before it.
  std::vector<int> rank(count, 0);
  std::vector<bool> inActive(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    StateBits states = walk[i].states;
    int up = outer(i);
    inActive[i] = calls::hasState(states, ATSPI_STATE_ACTIVE) ||
                  (up >= 0 && inActive[static_cast<std::size_t>(up)]);
    rank[i] = (inActive[i] ? 4 : 0) + (calls::hasState(states, ATSPI_STATE_FOCUSABLE) ? 2 : 0) +
              (calls::hasState(states, ATSPI_STATE_EDITABLE) ? 1 : 0);
  }
  int best = count == 0 ? 0 : *std::max_element(rank.begin(), rank.end());
  int deepest = -1;
  for (std::size_t i = 0; i < count; ++i) {
    if (rank[i] != best) continue;
    bool replaces = deepest < 0;
    for (int up = outer(i); up >= 0 && !replaces; up = outer(static_cast<std::size_t>(up))) {
      replaces = up == deepest;
    }
    if (replaces) deepest = static_cast<int>(i);
  }
  return deepest < 0 ? ObjectRef() : walk[static_cast<std::size_t>(deepest)].element;
}

}  // namespace focusctl::platform::atspi
