// A map that keeps at most a fixed number of entries and drops the one put
// longest ago first: for what is learnt per application and kept while a
// watcher runs, so that memory follows neither how long it runs nor how
// many names applications bring to the bus.
#pragma once

#include <cstddef>
#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>

namespace focusctl::platform::atspi {

template <typename Key, typename Value>
class BoundedMap {
 public:
  explicit BoundedMap(std::size_t limit) : limit_(limit) {}

  const Value* find(const Key& key) const {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &found->second->second;
  }
  bool contains(const Key& key) const { return index_.contains(key); }

  // In place of an entry with the same key, as the newest.
  void put(const Key& key, Value value) {
    erase(key);
    if (limit_ == 0) return;
    if (entries_.size() >= limit_) {
      index_.erase(entries_.front().first);
      entries_.pop_front();
    }
    entries_.emplace_back(key, std::move(value));
    index_.emplace(key, std::prev(entries_.end()));
  }

  void erase(const Key& key) {
    auto found = index_.find(key);
    if (found == index_.end()) return;
    entries_.erase(found->second);
    index_.erase(found);
  }

  template <typename Predicate>
  void eraseIf(Predicate drop) {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
      if (drop(entry->first, entry->second)) {
        index_.erase(entry->first);
        entry = entries_.erase(entry);
      } else {
        ++entry;
      }
    }
  }

  void clear() {
    index_.clear();
    entries_.clear();
  }

 private:
  using Entries = std::list<std::pair<Key, Value>>;
  std::size_t limit_;
  Entries entries_;
  std::unordered_map<Key, typename Entries::iterator> index_;
};

}  // namespace focusctl::platform::atspi
