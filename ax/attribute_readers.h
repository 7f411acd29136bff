// Attribute readers: each always returns a text, the empty text for every
// failure (missing attribute, error code, no value, a value of another kind).
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace focusctl {

std::string stringAttribute(const platform::Element& element,
                            std::string_view attribute);
// "{x,y}" of a point-valued attribute.
std::string pointAttribute(const platform::Element& element,
                           std::string_view attribute);
// "{width,height}" of a size-valued attribute.
std::string sizeAttribute(const platform::Element& element,
                          std::string_view attribute);

// "{a,b}", each component truncated toward zero; the empty text when either
// component is not finite or lies outside the signed 64-bit range.
std::string geometryText(double first, double second);

}  // namespace focusctl
