// Answers asked for before they are known to be needed, so that they travel
// with other questions: each is taken at most once, by the element it is
// about, while it is fresh (freshness.h); otherwise the question is asked
// anew.
#pragma once

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/atspi/bus/bus_client.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi {

template <typename T>
class AskedAhead {
 public:
  void put(const bus::ObjectRef& about, bus::Reply<T> reply) {
    dropStale();
    asked_.emplace_back(about, Fresh<bus::Reply<T>>{}).second.set(std::move(reply));
  }

  std::optional<bus::Reply<T>> take(const bus::ObjectRef& about) {
    dropStale();
    auto found = std::find_if(asked_.begin(), asked_.end(),
                              [&about](const auto& entry) { return entry.first == about; });
    if (found == asked_.end()) return std::nullopt;
    bus::Reply<T> reply = std::move(*found->second.get());
    asked_.erase(found);
    return reply;
  }

 private:
  void dropStale() {
    std::erase_if(asked_, [](auto& entry) { return entry.second.get() == nullptr; });
  }

  std::vector<std::pair<bus::ObjectRef, Fresh<bus::Reply<T>>>> asked_;
};

}  // namespace focusctl::platform::atspi
