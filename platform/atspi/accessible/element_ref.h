// What an ElementRef of this backend holds. Each Owned<ElementRef> owns its
// ElementRef outright, and the ElementRef one reference to its accessible.
#pragma once

#include <memory>
#include <string>

#include "platform/atspi/accessible/atspi_wire.h"
#include "platform/atspi/accessible/element_facts.h"
#include "platform/platform.h"

namespace focusctl::platform {

struct ElementRef {
  enum class Kind { systemWide, application, accessible };

  Kind kind = Kind::systemWide;
  // application: the pid it was made for; accessible: the owning process
  // when already known, else 0.
  Pid pid = 0;
  // accessible: the object; application: its root once looked up (null
  // when none was found).
  atspi::ObjectRef accessible;
  bool lookedUp = false;
  // accessible: what was learnt about it through this handle, made on first
  // use.
  std::unique_ptr<atspi::ElementFacts> facts;
};

namespace atspi {

// A new element for an accessible found in the process pid (0: unknown).
ElementRef* newAccessibleElement(ObjectRef accessible, Pid pid);

// The facts of an accessible element's handle.
ElementFacts& factsOf(ElementRef& element);

// The application element's root accessible, looked up on first use; a
// null reference when no application registered with the accessibility bus
// has its pid.
const ObjectRef& applicationRoot(ElementRef& application);

}  // namespace atspi
}  // namespace focusctl::platform
