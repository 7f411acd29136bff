// How long what focusctl learnt about the desktop may be used again without
// asking. One command needs some answers more than once (the registered
// applications, the process behind a pid, the windows a process owns, that
// a focus lookup found nothing); asking again within the command would only
// repeat the same round trips. An answer stays fresh until an event is about
// to be delivered (in watch mode every callback then sees the desktop anew)
// and for at most freshForMs, so that a process that lives on without
// watching never acts on old news.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace focusctl::platform::atspi {

inline constexpr std::int64_t freshForMs = 1000;

inline std::uint64_t desktopGeneration = 1;

// Everything learnt so far is old news from now on.
inline void desktopMayHaveChanged() { ++desktopGeneration; }

inline std::int64_t monotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One remembered answer and when it was learnt.
template <typename T>
class Fresh {
 public:
  // The answer, while it is fresh.
  const T* get() const { return value_ && isFresh() ? &*value_ : nullptr; }
  T* get() { return value_ && isFresh() ? &*value_ : nullptr; }
  T& set(T value) {
    value_.emplace(std::move(value));
    generation_ = desktopGeneration;
    learntAtUs_ = monotonicUs();
    return *value_;
  }
  void forget() { value_.reset(); }

 private:
  bool isFresh() const {
    return generation_ == desktopGeneration && monotonicUs() - learntAtUs_ < freshForMs * 1000;
  }

  std::optional<T> value_;
  std::uint64_t generation_ = 0;
  std::int64_t learntAtUs_ = 0;
};

// Remembered answers by what they are about, each while it is fresh. Stale
// ones go whenever the map is used, so that it holds no more than what was
// learnt lately.
template <typename Key, typename Value>
class FreshMap {
 public:
  // The answer, while it is fresh.
  Value* find(const Key& key) {
    dropStale();
    auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : found->second.get();
  }
  // In place of an answer about the same key.
  Value& put(const Key& key, Value value) {
    dropStale();
    return entries_[key].set(std::move(value));
  }
  // The answer handed over, at most once: for one asked ahead of need.
  std::optional<Value> take(const Key& key) {
    Value* found = find(key);
    if (found == nullptr) return std::nullopt;
    std::optional<Value> taken(std::move(*found));
    entries_.erase(key);
    return taken;
  }

 private:
  void dropStale() {
    std::erase_if(entries_, [](const auto& entry) { return entry.second.get() == nullptr; });
  }

  std::map<Key, Fresh<Value>> entries_;
};

}  // namespace focusctl::platform::atspi
