// What focusctl learns about one element handle: its role, state set,
// object attributes, names and extents. The first fact asked sends every
// question a command may have about the element at once, so that they cost
// one round trip together; each is read when needed, and at most once. Kept
// on the handle (the ElementRef) for its life: a command reads several
// attributes that need the same facts, and a watcher never reads attributes
// through a handle it keeps. The element's text is not among them: it is
// asked only when wanted, since a password's text is never read.
#pragma once

#include <atspi/atspi-constants.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// The first questions for the whole text behind a Text interface, sent
// together.
struct TextQuestions {
  bus::Reply<std::string> toEnd;
  bus::Reply<std::int32_t> count;
};

class ElementFacts {
 public:
  explicit ElementFacts(ObjectRef element);
  ~ElementFacts();
  ElementFacts(const ElementFacts&) = delete;
  ElementFacts& operator=(const ElementFacts&) = delete;

  const ObjectRef& element() const { return element_; }

  // After a call for a fact failed, the code for it; the facts asked for
  // since are then empty. An element found gone stays gone, and so does one
  // whose application has left the bus.
  bool failed() const { return failure_ != code::success; }
  ResultCode failure() const { return failure_; }
  bool vanished() {
    if (failure_ != code::invalidElement && bus::hasLeft(element_.bus)) {
      failure_ = code::invalidElement;
    }
    return failure_ == code::invalidElement;
  }
  // The code for a failed call on the element (failureCode, liveness.h;
  // without the call's outcome the element is probed), remembered when it
  // says the element is gone: nothing more is asked of it then.
  ResultCode failureOf(const bus::Outcome& failed);
  ResultCode failureOf();

  std::optional<AtspiRole> role();
  bool hasState(AtspiStateType state);
  // An object attribute; nothing when the element has no such attribute.
  std::optional<std::string_view> attribute(const char* name);
  // Whether the element offers the interface; false when that is unknown.
  bool implements(std::string_view interface);
  // Why the interfaces are unknown: -25202 for an element that is gone,
  // -25204 for a question that failed otherwise; 0 when they are known.
  ResultCode interfacesUnknown();
  // Success when the element is there and offers every one of the
  // interfaces; else why not.
  ResultCode offers(std::initializer_list<std::string_view> interfaces);

  // The role with the states it needs unless told not to, and its object
  // attributes when asked for (only the text-entry roles have any that
  // matter).
  RoleFacts roleFacts(bool withAttributes, bool withStates = true);
  // A password field; needs the role and, for text entries, the attributes.
  bool isSecureText();

  // A text-valued fact; the outcome of its call when it failed.
  struct Named {
    const std::string* text = nullptr;
    const bus::Outcome* outcome = nullptr;
  };
  Named name();
  Named description();
  Named accessibleId();
  // The relations; null when the call failed.
  const std::vector<calls::Relation>* relations();

  struct Extents {
    ResultCode code = code::failure;
    calls::Rect rect{};
    // False when the toolkit gave no screen position (its size still holds).
    bool positionKnown = false;
  };
  // The whole text's questions sent ahead, with another round trip the
  // same read makes (its labels' names): never for a password, nor without
  // a Text interface. textQuestions hands them over once; otherwise it asks
  // them now.
  void askForText();
  TextQuestions textQuestions();

  // The Component extents in screen coordinates (position and size come
  // from one call); -25205 without Component.
  const Extents& extents();

  // The combo box an unnamed text entry lies in (an editable combo box puts
  // the focus on its inner entry, which has no name): its facts, asked on
  // first use; null for any other element.
  ElementFacts* enclosingComboBox();

  // What the selection attributes found (text_selection.cpp), so that the
  // range and the text come from one reading; a write forgets it.
  struct Selection {
    ResultCode code = code::failure;
    Range range;                      // in UTF-16 code units
    std::optional<std::string> text;  // never a password's
  };
  std::optional<Selection>& selection() { return selection_; }

 private:
  struct Asked;
  Asked& asked();
  ResultCode remembered(ResultCode code) {
    if (code == code::invalidElement) failure_ = code;
    return code;
  }

  ObjectRef element_;
  ResultCode failure_ = code::success;
  bool statesUnanswered_ = false;  // alive, but without GetState
  std::unique_ptr<Asked> asked_;
  std::optional<Extents> extents_;
  std::optional<TextQuestions> textAsked_;
  std::optional<std::unique_ptr<ElementFacts>> comboBox_;
  std::optional<Selection> selection_;
};

// The whole text behind the element's Text interface; nothing when the call
// failed.
std::optional<std::string> wholeText(const ObjectRef& element);
std::optional<std::string> wholeText(const ObjectRef& element, TextQuestions asked);

}  // namespace focusctl::platform::atspi
