#include "platform/atspi/desktop/sway_ipc.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <json-c/json.h>

#include "platform/atspi/desktop/owned_fd.h"

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
  OwnedFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
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

struct JsonPut {
  void operator()(json_object* object) const noexcept { json_object_put(object); }
};
using Json = std::unique_ptr<json_object, JsonPut>;

// The whole text as one JSON value; null when it is not exactly that.
Json parsed(std::string_view text) {
  std::unique_ptr<json_tokener, decltype(&json_tokener_free)> tokener(
      json_tokener_new(), &json_tokener_free);
  if (!tokener || text.size() > replyLimit) return nullptr;
  Json value(json_tokener_parse_ex(tokener.get(), text.data(), static_cast<int>(text.size())));
  if (json_tokener_get_error(tokener.get()) != json_tokener_success) return nullptr;
  if (json_tokener_get_parse_end(tokener.get()) != text.size()) return nullptr;
  return value;
}

// A member of an object, borrowed; null when absent or not of that type.
json_object* member(json_object* object, const char* key, json_type type) {
  json_object* found = nullptr;
  if (!json_object_object_get_ex(object, key, &found)) return nullptr;
  return json_object_is_type(found, type) ? found : nullptr;
}

}  // namespace

std::optional<View> viewInTree(std::string_view tree, Pid pid) {
  Json root = parsed(tree);
  if (!root) return std::nullopt;
  // Depth first, in the compositor's order, without recursion.
  std::vector<json_object*> pending{root.get()};
  while (!pending.empty()) {
    json_object* node = pending.back();
    pending.pop_back();
    if (!json_object_is_type(node, json_type_object)) continue;
    json_object* nodePid = member(node, "pid", json_type_int);
    if (nodePid != nullptr && json_object_get_int64(nodePid) == pid) {
      View view;
      if (json_object* appId = member(node, "app_id", json_type_string)) {
        view.appId = json_object_get_string(appId);
      }
      json_object* shell = member(node, "shell", json_type_string);
      view.xwayland = shell != nullptr && std::strcmp(json_object_get_string(shell), "xwayland") == 0;
      return view;
    }
    for (const char* children : {"floating_nodes", "nodes"}) {
      json_object* list = member(node, children, json_type_array);
      if (list == nullptr) continue;
      for (std::size_t i = json_object_array_length(list); i > 0; --i) {
        pending.push_back(json_object_array_get_idx(list, i - 1));
      }
    }
  }
  return std::nullopt;
}

bool commandsSucceeded(std::string_view reply) {
  Json results = parsed(reply);
  if (!results || !json_object_is_type(results.get(), json_type_array)) return false;
  std::size_t count = json_object_array_length(results.get());
  if (count == 0) return false;
  for (std::size_t i = 0; i < count; ++i) {
    json_object* result = json_object_array_get_idx(results.get(), i);
    if (!json_object_is_type(result, json_type_object)) return false;
    json_object* success = member(result, "success", json_type_boolean);
    if (success == nullptr || !json_object_get_boolean(success)) return false;
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
