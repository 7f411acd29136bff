// The base of every test on the simulated desktop: a fresh desktop and
// watcher before each test, and after it no handle left held and none
// released twice.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace focusctl::test {

using nlohmann::json;
namespace sim = focusctl::sim;

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs `focusctl <args...>` through the real entry point and returns the
  // raw output of the one-shot reply, after checking that it is one line of
  // valid JSON, that nothing went through writeLineNow and that no handle is
  // held any more.
  std::string runRaw(std::vector<std::string> args);
  // The same, parsed.
  json run(std::vector<std::string> args);

  // Mail (pid 42, frontmost) with a focused text field; returns the field.
  sim::ElementId mailWithField();
  // Runs `focusctl watch` over the queued events; returns the lines written.
  std::vector<std::string> watch();

  static constexpr sim::Pid mailPid = 42;
};

}  // namespace focusctl::test
