#include "tests/sim_fixture.h"

#include <algorithm>

#include "app/dispatch.h"
#include "watch/watcher.h"

namespace focusctl::test {

void SimTest::SetUp() {
  resetWatcherState();
  sim::reset();
}

void SimTest::TearDown() {
  resetWatcherState();
  EXPECT_EQ(sim::liveTotal(), 0) << "elements " << sim::live(sim::Kind::element) << ", observers "
                                 << sim::live(sim::Kind::observer) << ", sources "
                                 << sim::live(sim::Kind::runLoopSource) << ", applications "
                                 << sim::live(sim::Kind::application);
  for (const std::string& error : sim::desktop().errors) ADD_FAILURE() << error;
  sim::reset();
}

std::string SimTest::runRaw(std::vector<std::string> args) {
  args.insert(args.begin(), "focusctl");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  sim::desktop().output.clear();

  EXPECT_EQ(runCommandLine(static_cast<int>(args.size()), argv.data()), 0);

  EXPECT_TRUE(sim::linesNow().empty());
  EXPECT_EQ(sim::liveTotal(), 0) << "a handle is still held after the reply";
  const std::string out = sim::bufferedOutput();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  EXPECT_TRUE(!out.empty() && out.back() == '\n') << out;
  EXPECT_TRUE(std::none_of(out.begin(), out.end() - (out.empty() ? 0 : 1),
                           [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
      << "raw control character in " << out;
  EXPECT_TRUE(json::accept(out)) << out;
  return out;
}

json SimTest::run(std::vector<std::string> args) {
  const std::string out = runRaw(std::move(args));
  json reply = json::parse(out, nullptr, /*allow_exceptions=*/false);
  EXPECT_TRUE(reply.is_object()) << out;
  EXPECT_TRUE(reply.is_object() && reply.contains("ok") && reply["ok"].is_boolean()) << out;
  return reply;
}

sim::ElementId SimTest::mailWithField() {
  sim::addApp(mailPid, "Mail", "com.apple.mail");
  sim::desktop().frontmost = mailPid;
  const sim::ElementId field = sim::addElement(mailPid);
  sim::element(field).attributes = {
      {"AXRole", sim::text("AXTextField")},
      {"AXSubrole", sim::text("AXSecureTextField")},
      {"AXTitle", sim::text("To:")},
      {"AXDescription", sim::text("recipient")},
      {"AXValue", sim::text("bob@example.com")},
      {"AXPlaceholderValue", sim::text("Address")},
      {"AXIdentifier", sim::text("to-field")},
      {"AXDOMIdentifier", sim::text("dom-to")},
      {"AXPosition", sim::point(100.0, 200.5)},
      {"AXSize", sim::size(300.0, 22.0)},
  };
  sim::focus(field);
  return field;
}

std::vector<std::string> SimTest::watch() {
  sim::desktop().output.clear();
  sim::forgetActivationHandlers();
  const char* argv[] = {"focusctl", "watch", nullptr};
  EXPECT_EQ(runCommandLine(2, argv), 0);
  EXPECT_EQ(sim::bufferedOutput(), "") << "watch mode writes no JSON";
  const std::vector<std::string> lines = sim::linesNow();
  for (const std::string& line : lines) {
    EXPECT_TRUE(line == "watching\n" || line == "fallback\n" || line == "ax\n")
        << "unexpected watch line [" << line << "]";
  }
  return lines;
}

}  // namespace focusctl::test
