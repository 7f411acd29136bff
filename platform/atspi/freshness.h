// How long what focusctl learnt about the desktop may be used again without
// asking. One command needs some answers more than once (the registered
// applications, the process behind a pid, the windows a process owns, that
// a focus lookup found nothing); asking again within the command would only
// repeat the same round trips. An answer stays fresh until an event is about
// to be delivered (in watch mode every callback then sees the desktop anew)
// and for at most freshForMs, so that a process that lives on without
// watching never acts on old news.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace focusctl::platform::atspi {

inline constexpr gint64 freshForMs = 1000;

struct Learnt {
  std::uint64_t generation = 0;
  gint64 atUs = 0;
};

inline std::uint64_t& desktopGeneration() {
  static std::uint64_t generation = 1;
  return generation;
}

// Everything learnt so far is old news from now on.
inline void desktopMayHaveChanged() { ++desktopGeneration(); }

inline Learnt learntNow() { return {desktopGeneration(), g_get_monotonic_time()}; }

inline bool isFresh(const Learnt& learnt) {
  return learnt.generation == desktopGeneration() &&
         g_get_monotonic_time() - learnt.atUs < freshForMs * 1000;
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
