// Finding the element with keyboard focus. AT-SPI has no global question for
// it: the focus is the FOCUSED descendant of the ACTIVE window of the
// application in front.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/atspi/accessible/atspi_wire.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

struct FocusAnswer {
  ResultCode code = code::noValue;
  ObjectRef element;
  Pid pid = 0;
  // False when no window of the application said ACTIVE and the focus was
  // looked for in all of its windows.
  bool windowSaysActive = true;
};

// The focused element inside one application (its root element and pid):
// in its ACTIVE window, or where none says ACTIVE, in the first window
// holding a FOCUSED element. -25212 when nothing has focus.
FocusAnswer focusInApplication(const ObjectRef& application, Pid pid);

// The focused element of the desktop: in the application owning the X11
// active window, unless another application has an ACTIVE window while
// that one has none; without an X11 active window, in whichever
// application has an ACTIVE window.
FocusAnswer focusOnDesktop();

struct ActiveApplication {
  ObjectRef root;
  Pid pid = 0;
};
// The application that has an ACTIVE window, when one has.
ActiveApplication applicationWithActiveWindow();

// The element last seen focused in each application, from lookups and from
// delivered focus events. A focus event for the element already known to
// have focus changes nothing (toolkits repeat them, and send them again when
// a window is re-activated).
void noteFocus(const std::string& busName, std::string_view path);
bool isKnownFocus(const std::string& busName, std::string_view path);
// The unique name has left the bus (an empty name: the bus has gone): its
// application's focus is known no more.
void forgetFocusOf(const std::string& busName);

}  // namespace focusctl::platform::atspi
