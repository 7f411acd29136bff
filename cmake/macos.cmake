# macOS settings, included by the top-level CMakeLists.txt inside if(APPLE).
#
# The deployment target is given before project() in the top-level
# CMakeLists.txt; one chosen by the user must not be older than macOS 11.
if(CMAKE_OSX_DEPLOYMENT_TARGET AND CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS 11.0)
  message(FATAL_ERROR "focusctl needs macOS 11 or later "
                      "(CMAKE_OSX_DEPLOYMENT_TARGET is ${CMAKE_OSX_DEPLOYMENT_TARGET})")
endif()

# One binary for Apple silicon and Intel Macs. A plain variable, so that
# turning the option off again returns to the host architecture; every target
# takes its architectures from it when created.
option(FOCUSCTL_UNIVERSAL "Build a universal binary (arm64 and x86_64)" OFF)
if(FOCUSCTL_UNIVERSAL)
  set(CMAKE_OSX_ARCHITECTURES "arm64;x86_64")
endif()

# Objective-C++ for the AppKit and Foundation parts of platform/macos; it
# takes the C++ standard of the project (CXX_STANDARD applies to OBJCXX).
enable_language(OBJCXX)

# Objective-C++ is always compiled with ARC (each .mm stops without it), and
# a toll-free bridge cast between unrelated types is warned about.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>"
  "$<$<COMPILE_LANGUAGE:OBJCXX>:-Wbridge-cast>"
)
