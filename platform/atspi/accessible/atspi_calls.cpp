#include "platform/atspi/accessible/atspi_calls.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/atspi/accessible/bus_session.h"

namespace focusctl::platform::atspi::calls {
namespace {

template <typename T>
using Reader = bool (*)(sd_bus_message*, T&);

// Sends the call over the accessibility bus, which the first call of the
// process finds.
template <typename T>
Reply<T> sent(std::shared_ptr<typename Reply<T>::Slot> slot, const ObjectRef& target,
              std::string_view interface, std::string_view member, const bus::Appender& append) {
  busConnected();
  bus::detail::send(slot, target.bus, target.path, interface, member, append);
  return Reply<T>(std::move(slot));
}

// Arguments travel with the call as values of its own; a text is handed to
// sd-bus from the copy the call keeps.
template <typename T>
T wireArgument(const T& value) {
  return value;
}
inline const char* wireArgument(const std::string& value) { return value.c_str(); }

// Sends the method with its arguments, which must match its wire signature;
// the reply is read only when its signature is the one the wire names.
template <typename T, typename... Args>
Reply<T> callMethod(const ObjectRef& target, const wire::Method& method, Reader<T> reader,
                    Args... args) {
  auto slot = std::make_shared<typename Reply<T>::Slot>();
  slot->reader = [reader, out = std::string(method.out)](sd_bus_message* reply, T& value) {
    return sd_bus_message_has_signature(reply, out.c_str()) > 0 && reader(reply, value);
  };
  return sent<T>(std::move(slot), target, method.interface, method.member,
                 [in = std::string(method.in), args...](sd_bus_message* call) {
                   if constexpr (sizeof...(Args) == 0) {
                     (void)call;
                     return 0;
                   } else {
                     return sd_bus_message_append(call, in.c_str(), wireArgument(args)...);
                   }
                 });
}

template <typename T>
Reply<T> getProperty(const ObjectRef& target, const wire::Property& property, Reader<T> reader) {
  auto slot = std::make_shared<typename Reply<T>::Slot>();
  slot->reader = [reader, type = std::string(property.type)](sd_bus_message* reply, T& value) {
    return sd_bus_message_has_signature(reply, "v") > 0 &&
           sd_bus_message_enter_container(reply, 'v', type.c_str()) > 0 &&
           reader(reply, value) && sd_bus_message_exit_container(reply) >= 0;
  };
  return sent<T>(std::move(slot), target, bus::propertyGet.interface, bus::propertyGet.member,
                 [interface = std::string(property.interface),
                  name = std::string(property.name)](sd_bus_message* call) {
                   return sd_bus_message_append(call, "ss", interface.c_str(), name.c_str());
                 });
}

bool readString(sd_bus_message* message, std::string& value) {
  const char* text = nullptr;
  if (sd_bus_message_read_basic(message, 's', &text) <= 0 || text == nullptr) return false;
  value = text;
  return true;
}

bool readInt32(sd_bus_message* message, std::int32_t& value) {
  return sd_bus_message_read_basic(message, 'i', &value) > 0;
}

bool readUint32(sd_bus_message* message, std::uint32_t& value) {
  return sd_bus_message_read_basic(message, 'u', &value) > 0;
}

bool readBool(sd_bus_message* message, bool& value) {
  int flag = 0;
  if (sd_bus_message_read_basic(message, 'b', &flag) <= 0) return false;
  value = flag != 0;
  return true;
}

// Reads an array's entries one by one (readOne: 1 for one more, 0 at the
// end, negative on error) and keeps at most maxListed of them: the rest
// are read past, so a list an application makes enormous costs no memory.
template <typename ReadOne>
bool readArray(sd_bus_message* message, const char* contents, ReadOne readOne) {
  if (sd_bus_message_enter_container(message, 'a', contents) <= 0) return false;
  int read = 0;
  for (std::size_t entries = 0; (read = readOne(entries < maxListed)) > 0; ++entries) {
  }
  return read == 0 && sd_bus_message_exit_container(message) >= 0;
}

bool readRef(sd_bus_message* message, ObjectRef& value) {
  const char* busName = nullptr;
  const char* path = nullptr;
  if (sd_bus_message_read(message, "(so)", &busName, &path) <= 0) return false;
  value = {busName, path};
  return true;
}

bool readRefs(sd_bus_message* message, std::vector<ObjectRef>& value) {
  return readArray(message, "(so)", [&](bool keep) {
    const char* busName = nullptr;
    const char* path = nullptr;
    int read = sd_bus_message_read(message, "(so)", &busName, &path);
    if (read > 0 && keep) value.push_back({busName, path});
    return read;
  });
}

bool readStrings(sd_bus_message* message, std::vector<std::string>& value) {
  return readArray(message, "s", [&](bool keep) {
    const char* text = nullptr;
    int read = sd_bus_message_read_basic(message, 's', &text);
    if (read > 0 && keep) value.emplace_back(text);
    return read;
  });
}

bool readStates(sd_bus_message* message, StateBits& value) {
  int shift = 0;
  return readArray(message, "u", [&](bool) {
    std::uint32_t word = 0;
    int read = sd_bus_message_read_basic(message, 'u', &word);
    if (read > 0 && shift < 64) value |= StateBits{word} << shift;
    shift = std::min(shift + 32, 64);
    return read;
  });
}

bool readAttributes(sd_bus_message* message, Attributes& value) {
  return readArray(message, "{ss}", [&](bool keep) {
    const char* key = nullptr;
    const char* text = nullptr;
    int read = sd_bus_message_read(message, "{ss}", &key, &text);
    if (read > 0 && keep) value.insert_or_assign(key, text);
    return read;
  });
}

bool readRelations(sd_bus_message* message, std::vector<Relation>& value) {
  return readArray(message, "(ua(so))", [&](bool keep) {
    int entered = sd_bus_message_enter_container(message, 'r', "ua(so)");
    if (entered <= 0) return entered;
    Relation relation;
    if (!readUint32(message, relation.type) || !readRefs(message, relation.targets) ||
        sd_bus_message_exit_container(message) < 0) {
      return -1;
    }
    if (keep) value.push_back(std::move(relation));
    return 1;
  });
}

bool readRect(sd_bus_message* message, Rect& value) {
  return sd_bus_message_read(message, "(iiii)", &value.x, &value.y, &value.width,
                             &value.height) > 0;
}

bool readSpan(sd_bus_message* message, Span& value) {
  return sd_bus_message_read(message, "ii", &value.start, &value.end) > 0;
}

bool readActions(sd_bus_message* message, std::vector<ActionInfo>& value) {
  return readArray(message, "(sss)", [&](bool keep) {
    const char* name = nullptr;
    const char* description = nullptr;
    const char* keyBinding = nullptr;
    int read = sd_bus_message_read(message, "(sss)", &name, &description, &keyBinding);
    if (read > 0 && keep) value.push_back({name, description, keyBinding});
    return read;
  });
}

const ObjectRef& busDaemon() {
  static const ObjectRef daemon{std::string(bus::daemonName), std::string(bus::daemonPath)};
  return daemon;
}

}  // namespace

ObjectRef desktop() { return {std::string(wire::registryName), std::string(wire::rootPath)}; }

Reply<std::uint32_t> role(const ObjectRef& object) {
  return callMethod(object, wire::getRole, readUint32);
}

Reply<StateBits> states(const ObjectRef& object) {
  return callMethod(object, wire::getState, readStates);
}

Reply<Attributes> attributes(const ObjectRef& object) {
  return callMethod(object, wire::getAttributes, readAttributes);
}

Reply<std::string> name(const ObjectRef& object) {
  return getProperty(object, wire::name, readString);
}

Reply<std::string> description(const ObjectRef& object) {
  return getProperty(object, wire::description, readString);
}

Reply<std::string> accessibleId(const ObjectRef& object) {
  return getProperty(object, wire::accessibleId, readString);
}

Reply<std::int32_t> childCount(const ObjectRef& object) {
  return getProperty(object, wire::childCount, readInt32);
}

Reply<ObjectRef> childAtIndex(const ObjectRef& object, std::int32_t index) {
  return callMethod(object, wire::getChildAtIndex, readRef, index);
}

Reply<std::vector<ObjectRef>> children(const ObjectRef& object) {
  return callMethod(object, wire::getChildren, readRefs);
}

Reply<ObjectRef> parent(const ObjectRef& object) {
  return getProperty(object, wire::parent, readRef);
}

Reply<ObjectRef> application(const ObjectRef& object) {
  return callMethod(object, wire::getApplication, readRef);
}

Reply<std::vector<Relation>> relations(const ObjectRef& object) {
  return callMethod(object, wire::getRelationSet, readRelations);
}

Reply<std::vector<std::string>> interfaces(const ObjectRef& object) {
  return callMethod(object, wire::getInterfaces, readStrings);
}

Reply<Rect> extents(const ObjectRef& object, unsigned coordinates) {
  return callMethod(object, wire::getExtents, readRect, coordinates);
}

Reply<std::string> text(const ObjectRef& object, std::int32_t start, std::int32_t end) {
  return callMethod(object, wire::getText, readString, start, end);
}

Reply<std::int32_t> characterCount(const ObjectRef& object) {
  return getProperty(object, wire::characterCount, readInt32);
}

Reply<bool> setTextContents(const ObjectRef& object, std::string_view text) {
  return callMethod(object, wire::setTextContents, readBool, std::string(text));
}

Reply<std::int32_t> caretOffset(const ObjectRef& object) {
  return getProperty(object, wire::caretOffset, readInt32);
}

Reply<bool> setCaretOffset(const ObjectRef& object, std::int32_t offset) {
  return callMethod(object, wire::setCaretOffset, readBool, offset);
}

Reply<std::int32_t> selectionCount(const ObjectRef& object) {
  return callMethod(object, wire::getNSelections, readInt32);
}

Reply<Span> selection(const ObjectRef& object, std::int32_t index) {
  return callMethod(object, wire::getSelection, readSpan, index);
}

Reply<bool> insertText(const ObjectRef& object, std::int32_t position, std::string_view text,
                       std::int32_t length) {
  return callMethod(object, wire::insertText, readBool, position, std::string(text), length);
}

Reply<bool> deleteText(const ObjectRef& object, std::int32_t start, std::int32_t end) {
  return callMethod(object, wire::deleteText, readBool, start, end);
}

Reply<std::vector<ActionInfo>> actions(const ObjectRef& object) {
  return callMethod(object, wire::getActions, readActions);
}

Reply<std::string> actionName(const ObjectRef& object, std::int32_t index) {
  return callMethod(object, wire::getActionName, readString, index);
}

Reply<bool> doAction(const ObjectRef& object, std::int32_t index) {
  return callMethod(object, wire::doAction, readBool, index);
}

Reply<std::vector<ObjectRef>> matchesWithStates(const ObjectRef& object, StateBits wanted,
                                                std::int32_t count, RoleBits roles) {
  auto low = [](std::uint64_t bits) { return static_cast<std::int32_t>(bits & 0xffffffffU); };
  auto high = [](std::uint64_t bits) { return static_cast<std::int32_t>(bits >> 32); };
  // States (two words), empty attributes, roles (two words, any of them;
  // none: every role), empty interfaces; not inverted; canonical order;
  // traversing.
  return callMethod(object, wire::getMatches, readRefs, 2U, low(wanted), high(wanted),
                    wire::matchAll, 0U, wire::matchAll, 2U, low(roles), high(roles),
                    roles != 0 ? wire::matchAny : wire::matchAll, 0U, wire::matchAll, 0,
                    wire::sortCanonical, count, 1);
}

Reply<std::string> toolkitName(const ObjectRef& application) {
  return getProperty(application, wire::toolkitName, readString);
}

Reply<std::string> toolkitVersion(const ObjectRef& application) {
  return getProperty(application, wire::toolkitVersion, readString);
}

Reply<std::uint32_t> connectionPid(const std::string& busName) {
  return callMethod(busDaemon(), bus::getConnectionPid, readUint32, busName);
}

}  // namespace focusctl::platform::atspi::calls
