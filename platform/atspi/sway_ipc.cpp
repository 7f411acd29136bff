#include "platform/atspi/sway_ipc.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

namespace focusctl::platform::sway {
namespace {

enum class MessageType : std::uint32_t { runCommand = 0, getTree = 4 };

constexpr std::string_view magic = "i3-ipc";
constexpr std::size_t headerSize = 14;
// get_tree of a busy desktop is a few hundred KiB; anything beyond this is
// not a reply worth waiting for.
constexpr std::uint32_t replyLimit = 16u << 20;

// "i3-ipc", the payload's length and the type (both in the host's byte
// order), then the payload.
std::string encodedMessage(MessageType type, std::string_view payload) {
  std::string message(magic);
  const auto append = [&message](std::uint32_t value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    message.append(bytes, sizeof value);
  };
  append(static_cast<std::uint32_t>(payload.size()));
  append(static_cast<std::uint32_t>(type));
  message += payload;
  return message;
}

// The payload length a reply header announces, when it is one.
std::optional<std::uint32_t> replyPayloadLength(std::string_view header) {
  if (header.size() != headerSize || !header.starts_with(magic)) return std::nullopt;
  std::uint32_t length = 0;
  std::memcpy(&length, header.data() + magic.size(), sizeof length);
  return length;
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool receiveAll(int fd, std::string& into, std::size_t size) {
  into.resize(size);
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::recv(fd, into.data() + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// One request and its reply on a fresh connection. A compositor that does
// not answer within a second is treated as absent rather than holding the
// command.
std::optional<std::string> request(MessageType type, std::string_view payload) {
  const char* path = std::getenv("SWAYSOCK");
  sockaddr_un address{};
  if (path == nullptr || *path == '\0' || std::strlen(path) >= sizeof address.sun_path) {
    return std::nullopt;
  }
  Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.fd() < 0) return std::nullopt;
  timeval limit{1, 0};
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  if (::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return std::nullopt;
  }
  if (!sendAll(socket.fd(), encodedMessage(type, payload))) return std::nullopt;
  std::string header;
  if (!receiveAll(socket.fd(), header, headerSize)) return std::nullopt;
  std::optional<std::uint32_t> length = replyPayloadLength(header);
  if (!length || *length > replyLimit) return std::nullopt;
  std::string reply;
  if (!receiveAll(socket.fd(), reply, *length)) return std::nullopt;
  return reply;
}

nlohmann::json parsed(std::string_view text) {
  return nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
}

}  // namespace

std::optional<View> viewInTree(std::string_view tree, Pid pid) {
  nlohmann::json root = parsed(tree);
  if (root.is_discarded()) return std::nullopt;
  // Depth first, in the compositor's order, without recursion.
  std::vector<const nlohmann::json*> pending{&root};
  while (!pending.empty()) {
    const nlohmann::json& node = *pending.back();
    pending.pop_back();
    if (!node.is_object()) continue;
    auto nodePid = node.find("pid");
    if (nodePid != node.end() && nodePid->is_number_integer() && *nodePid == pid) {
      View view;
      auto appId = node.find("app_id");
      if (appId != node.end() && appId->is_string()) view.appId = appId->get<std::string>();
      auto shell = node.find("shell");
      view.xwayland = shell != node.end() && *shell == "xwayland";
      return view;
    }
    for (const char* children : {"floating_nodes", "nodes"}) {
      auto list = node.find(children);
      if (list == node.end() || !list->is_array()) continue;
      for (auto child = list->rbegin(); child != list->rend(); ++child) pending.push_back(&*child);
    }
  }
  return std::nullopt;
}

bool commandsSucceeded(std::string_view reply) {
  nlohmann::json results = parsed(reply);
  if (!results.is_array() || results.empty()) return false;
  for (const nlohmann::json& result : results) {
    if (!result.is_object()) return false;
    auto success = result.find("success");
    if (success == result.end() || *success != true) return false;
  }
  return true;
}

std::optional<bool> focusWindowOf(Pid pid) {
  // A process id is only digits: nothing in it needs quoting.
  std::optional<std::string> reply =
      request(MessageType::runCommand, "[pid=" + std::to_string(pid) + "] focus");
  if (!reply) return std::nullopt;
  return commandsSucceeded(*reply);
}

std::optional<View> viewOfPid(Pid pid) {
  std::optional<std::string> tree = request(MessageType::getTree, "");
  if (!tree) return std::nullopt;
  return viewInTree(*tree, pid);
}

}  // namespace focusctl::platform::sway
