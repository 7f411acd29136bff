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
#include <optional>
#include <utility>

namespace focusctl::platform::atspi {

inline constexpr std::int64_t freshForMs = 1000;

struct Learnt {
  std::uint64_t generation = 0;
  std::int64_t atUs = 0;
};

inline std::uint64_t& desktopGeneration() {
  static std::uint64_t generation = 1;
  return generation;
}

// Everything learnt so far is old news from now on.
inline void desktopMayHaveChanged() { ++desktopGeneration(); }

inline std::int64_t monotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline Learnt learntNow() { return {desktopGeneration(), monotonicUs()}; }

inline bool isFresh(const Learnt& learnt) {
  return learnt.generation == desktopGeneration() &&
         monotonicUs() - learnt.atUs < freshForMs * 1000;
}

// One remembered answer and when it was learnt.
template <typename T>
class Fresh {
 public:
  // The answer, while it is fresh.
  const T* get() const { return value_ && isFresh(learnt_) ? &*value_ : nullptr; }
  T* get() { return value_ && isFresh(learnt_) ? &*value_ : nullptr; }
  T& set(T value) {
    value_ = std::move(value);
    learnt_ = learntNow();
    return *value_;
  }
  void forget() { value_.reset(); }

 private:
  std::optional<T> value_;
  Learnt learnt_;
};

}  // namespace focusctl::platform::atspi
