#include "platform/atspi/accessible/atspi_calls.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/atspi/accessible/bus_session.h"

namespace focusctl::platform::atspi::calls {
namespace {

// Reads one value of the reply: positive when read, 0 at the end of the
// array it is in, negative on error.
int readOne(sd_bus_message* message, std::string& value) {
  const char* read = nullptr;
  int got = sd_bus_message_read_basic(message, 's', &read);
  if (got > 0 && read == nullptr) return -1;
  if (got > 0) value = read;
  return got;
}

int readOne(sd_bus_message* message, std::int32_t& value) {
  return sd_bus_message_read_basic(message, 'i', &value);
}

int readOne(sd_bus_message* message, std::uint32_t& value) {
  return sd_bus_message_read_basic(message, 'u', &value);
}

int readOne(sd_bus_message* message, bool& value) {
  int flag = 0;
  int got = sd_bus_message_read_basic(message, 'b', &flag);
  value = flag != 0;
  return got;
}

int readOne(sd_bus_message* message, ObjectRef& value) {
  const char* busName = nullptr;
  const char* path = nullptr;
  int got = sd_bus_message_read(message, "(so)", &busName, &path);
  if (got > 0) value = {busName, path};
  return got;
}

int readOne(sd_bus_message* message, Rect& value) {
  return sd_bus_message_read(message, "(iiii)", &value.x, &value.y, &value.width,
                             &value.height);
}

int readOne(sd_bus_message* message, Span& value) {
  return sd_bus_message_read(message, "ii", &value.start, &value.end);
}

int readOne(sd_bus_message* message, ActionInfo& value) {
  const char* actionName = nullptr;
  const char* actionDescription = nullptr;
  const char* keyBinding = nullptr;
  int got = sd_bus_message_read(message, "(sss)", &actionName, &actionDescription, &keyBinding);
  if (got > 0) value = {actionName, actionDescription, keyBinding};
  return got;
}

int readOne(sd_bus_message* message, Relation& value);

// Reads an array's entries one by one (readEntry: 1 for one more, 0 at the
// end, negative on error) and keeps at most maxListed of them: the rest
// are read past, so a list an application makes enormous costs no memory.
template <typename ReadEntry>
bool readArray(sd_bus_message* message, const char* contents, ReadEntry readEntry) {
  if (sd_bus_message_enter_container(message, 'a', contents) <= 0) return false;
  int got = 0;
  for (std::size_t entries = 0; (got = readEntry(entries < maxListed)) > 0; ++entries) {
  }
  return got == 0 && sd_bus_message_exit_container(message) >= 0;
}

// Reads the value whose wire signature is given.
template <typename T>
bool readValue(sd_bus_message* message, const char* /*signature*/, T& value) {
  return readOne(message, value) > 0;
}

template <typename T>
bool readValue(sd_bus_message* message, const char* signature, std::vector<T>& value) {
  return readArray(message, signature + 1, [&](bool keep) {
    T entry{};
    int got = readOne(message, entry);
    if (got > 0 && keep) value.push_back(std::move(entry));
    return got;
  });
}

bool readValue(sd_bus_message* message, const char* /*signature*/, StateBits& value) {
  int shift = 0;
  return readArray(message, "u", [&](bool) {
    std::uint32_t word = 0;
    int got = sd_bus_message_read_basic(message, 'u', &word);
    if (got > 0 && shift < 64) value |= StateBits{word} << shift;
    shift = std::min(shift + 32, 64);
    return got;
  });
}

bool readValue(sd_bus_message* message, const char* /*signature*/, Attributes& value) {
  return readArray(message, "{ss}", [&](bool keep) {
    const char* key = nullptr;
    const char* entry = nullptr;
    int got = sd_bus_message_read(message, "{ss}", &key, &entry);
    if (got > 0 && keep) value.insert_or_assign(key, entry);
    return got;
  });
}

int readOne(sd_bus_message* message, Relation& value) {
  int entered = sd_bus_message_enter_container(message, 'r', "ua(so)");
  if (entered <= 0) return entered;
  if (readOne(message, value.type) <= 0 || !readValue(message, "a(so)", value.targets) ||
      sd_bus_message_exit_container(message) < 0) {
    return -1;
  }
  return 1;
}

// Arguments travel with the call as values of its own; a text is handed to
// sd-bus from the copy the call keeps.
template <typename T>
T wireArgument(const T& value) {
  return value;
}
inline const char* wireArgument(const std::string& value) { return value.c_str(); }

// Sends the method with its arguments, which must match its wire signature,
// over the accessibility bus, which the first call of the process finds.
// The reply is read only when its signature is the one the wire names; a
// property's from inside its variant, whose contents variant names (empty
// for a method).
template <typename T, typename... Args>
Reply<T> call(const ObjectRef& target, const wire::Method& method, std::string_view variant,
              Args... args) {
  auto slot = std::make_shared<typename Reply<T>::Slot>();
  slot->reader = [out = std::string(method.out), inner = std::string(variant)](
                     sd_bus_message* reply, T& value) {
    if (sd_bus_message_has_signature(reply, out.c_str()) <= 0) return false;
    if (inner.empty()) return readValue(reply, out.c_str(), value);
    return sd_bus_message_enter_container(reply, 'v', inner.c_str()) > 0 &&
           readValue(reply, inner.c_str(), value) && sd_bus_message_exit_container(reply) >= 0;
  };
  busConnected();
  bus::detail::send(slot, target.bus, target.path, method.interface, method.member,
                    [in = std::string(method.in), args...](sd_bus_message* message) {
                      return sd_bus_message_append(message, in.c_str(), wireArgument(args)...);
                    });
  return Reply<T>(std::move(slot));
}

const ObjectRef& busDaemon() {
  static const ObjectRef daemon{std::string(bus::daemonName), std::string(bus::daemonPath)};
  return daemon;
}

}  // namespace

template <typename T, typename... Args>
Reply<T> MethodCall<T, Args...>::operator()(const ObjectRef& object, Args... args) const {
  return call<T>(object, method, {}, std::move(args)...);
}

template <typename T>
Reply<T> PropertyGet<T>::operator()(const ObjectRef& object) const {
  return call<T>(object, bus::propertyGet, property.type, std::string(property.interface),
                 std::string(property.name));
}

// Every typed call the header names.
template struct MethodCall<std::uint32_t>;
template struct MethodCall<StateBits>;
template struct MethodCall<Attributes>;
template struct MethodCall<ObjectRef>;
template struct MethodCall<ObjectRef, std::int32_t>;
template struct MethodCall<std::vector<ObjectRef>>;
template struct MethodCall<std::vector<Relation>>;
template struct MethodCall<std::vector<std::string>>;
template struct MethodCall<std::vector<ActionInfo>>;
template struct MethodCall<Rect, unsigned>;
template struct MethodCall<Span, std::int32_t>;
template struct MethodCall<std::int32_t>;
template struct MethodCall<std::string, std::int32_t>;
template struct MethodCall<std::string, std::int32_t, std::int32_t>;
template struct MethodCall<bool, std::string>;
template struct MethodCall<bool, std::int32_t>;
template struct MethodCall<bool, std::int32_t, std::int32_t>;
template struct MethodCall<bool, std::int32_t, std::string, std::int32_t>;
template struct PropertyGet<std::string>;
template struct PropertyGet<std::int32_t>;
template struct PropertyGet<ObjectRef>;

ObjectRef desktop() { return {std::string(wire::registryName), std::string(wire::rootPath)}; }

Reply<std::vector<ObjectRef>> matchesWithStates(const ObjectRef& object, StateBits wanted,
                                                std::int32_t count, RoleBits roles) {
  auto low = [](std::uint64_t bits) { return static_cast<std::int32_t>(bits & 0xffffffffU); };
  auto high = [](std::uint64_t bits) { return static_cast<std::int32_t>(bits >> 32); };
  // States (two words), empty attributes, roles (two words, any of them;
  // none: every role), empty interfaces; not inverted; canonical order;
  // traversing.
  return call<std::vector<ObjectRef>>(
      object, wire::getMatches, {}, 2U, low(wanted), high(wanted), wire::matchAll, 0U,
      wire::matchAll, 2U, low(roles), high(roles), roles != 0 ? wire::matchAny : wire::matchAll,
      0U, wire::matchAll, 0, wire::sortCanonical, count, 1);
}

Reply<std::uint32_t> connectionPid(const std::string& busName) {
  return call<std::uint32_t>(busDaemon(), bus::getConnectionPid, {}, busName);
}

}  // namespace focusctl::platform::atspi::calls
