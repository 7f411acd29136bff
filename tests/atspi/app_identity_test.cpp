// What the desktop says about an application, over sample texts as the
// kernel, Flatpak and sway write them.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/atspi/desktop/app_identity.h"
#include "platform/atspi/desktop/sway_ipc.h"

namespace focusctl::platform {
namespace {

struct TextCase {
  std::string text;
  std::optional<std::string> expected;
};

TEST(AppIdentity, FlatpakInfoNamesTheSandboxedApplication) {
  const std::vector<TextCase> cases = {
      {"[Application]\nname=org.gnome.TextEditor\nruntime=runtime/org.gnome.Platform/x86_64/45\n\n"
       "[Instance]\ninstance-id=1234\n",
       "org.gnome.TextEditor"},
      {"# written by flatpak\r\n[Instance]\nname=wrong\n[Application]\r\nname = org.x.Y \r\n", "org.x.Y"},
      {"[Runtime]\nname=org.gnome.Platform\n", std::nullopt},
      {"[Application]\nruntime=x\n[Instance]\nname=org.x.Y\n", std::nullopt},
      {"[Application]\nname=\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(identity::flatpakNameFromInfo(c.text), c.expected) << c.text;
  }
}

TEST(AppIdentity, LauncherUnitInProcCgroupNamesTheApplication) {
  const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
  const std::vector<TextCase> cases = {
      {user + "app-gnome-org.gnome.TextEditor-3456.scope\n", "org.gnome.TextEditor"},
      {user + "app-org.kde.dolphin-a1b2c3.scope\n", "org.kde.dolphin"},
      {user + "app-flatpak-org.telegram.desktop@12345.service\n", "org.telegram.desktop"},
      {user + "app-org.kde.amarok.service\n", "org.kde.amarok"},
      {user + "app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify-99.scope\n",
       "org.gnome.Evolution-alarm-notify"},
      // The deepest unit counts: an application's own sub-groups are below it.
      {user + "app-gnome-firefox\\x2desr-12.scope/tab-5\n", "firefox-esr"},
      // A terminal's tab, a session service, the system: no launched application.
      {user + "app-org.gnome.Terminal.slice/vte-spawn-0c1f.scope\n", std::nullopt},
      {user + "session.slice/org.gnome.Shell@wayland.service\n", std::nullopt},
      {"0::/init.scope\n", std::nullopt},
      // Unescaped dashes or a broken escape make the id unreadable.
      {user + "app-gnome-my-app-7.scope\n", std::nullopt},
      {user + "app-gnome-x\\x2-7.scope\n", std::nullopt},
      {user + "app-gnome-org.x.Y-.scope\n", std::nullopt},
      // A hybrid hierarchy: the unified line wins over name=systemd.
      {"12:name=systemd:/user.slice/app-gnome-old-1.scope\n" + user + "app-gnome-org.x.New-2.scope\n",
       "org.x.New"},
      {"4:cpu,cpuacct:/\n1:name=systemd:/user.slice/app-gnome-org.x.Old-1.scope\n", "org.x.Old"},
      {"garbage\n", std::nullopt},
  };
  for (const TextCase& c : cases) {
    std::optional<std::string> path = identity::cgroupPathFromText(c.text);
    EXPECT_EQ(path ? identity::applicationIdFromCgroupPath(*path) : std::nullopt, c.expected)
        << c.text;
  }
}

TEST(AppIdentity, WellKnownBusNameStandsForADesktopFile) {
  const std::vector<TextCase> cases = {
      {"org.gnome.TextEditor", "org.gnome.TextEditor"},
      // KDE applications that run once per process add its id.
      {"org.kde.kwrite-4242", "org.kde.kwrite"},
      {"org.kde.kwrite-42", "org.kde.kwrite-42"},
      {"-4242", std::nullopt},
      {":1.42", std::nullopt},
      {"org.freedesktop.DBus", std::nullopt},
      {"../../etc/passwd", std::nullopt},
      {".hidden", std::nullopt},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(identity::desktopIdOfBusName(c.text, 4242), c.expected) << c.text;
  }
}

TEST(SwayIpc, RepliesAreReadDefensively) {
  const std::string tree = R"({"id":1,"type":"root","nodes":[{"type":"output","nodes":[
    {"type":"workspace","nodes":[{"type":"con","nodes":[
      {"type":"con","pid":100,"app_id":"org.gnome.TextEditor","shell":"xdg_shell"}]}],
     "floating_nodes":[{"type":"floating_con","pid":200,"app_id":null,"shell":"xwayland",
       "window_properties":{"class":"XTerm"}}]}]}]})";
  struct ViewCase {
    Pid pid;
    std::optional<std::string> appId;  // nothing: no view
    bool xwayland;
  };
  for (const ViewCase& c : std::vector<ViewCase>{{100, "org.gnome.TextEditor", false},
                                                 {200, "", true},
                                                 {300, std::nullopt, false}}) {
    std::optional<sway::View> view = sway::viewInTree(tree, c.pid);
    ASSERT_EQ(view.has_value(), c.appId.has_value()) << c.pid;
    if (view) {
      EXPECT_EQ(std::make_pair(view->appId, view->xwayland), std::make_pair(*c.appId, c.xwayland));
    }
  }
  EXPECT_EQ(sway::viewInTree(R"({"nodes":[{"pid":100,)", 100), std::nullopt);

  const std::vector<std::pair<std::string, bool>> replies = {
      {R"([{"success":true}])", true},
      {R"([{"success":true},{"success":false,"error":"No matching node."}])", false},
      {R"([{"success":false,"parse_error":true}])", false},
      {"[]", false},
      {R"({"success":true})", false},
      {"[{\"success\":tr", false},
  };
  for (const auto& [reply, succeeded] : replies) {
    EXPECT_EQ(sway::commandsSucceeded(reply), succeeded) << reply;
  }
}

}  // namespace
}  // namespace focusctl::platform
