// Owning wrappers for what GLib and libatspi hand out, so that every path,
// early returns included, gives each reference and string back exactly once.
#pragma once

#include <atspi/atspi.h>

#include <memory>
#include <string>

namespace focusctl::platform::atspi {

struct GObjectUnref {
  void operator()(void* object) const noexcept {
    if (object != nullptr) g_object_unref(object);
  }
};

// One GObject reference (an AtspiAccessible, a state set, a match rule...).
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

// Takes a new reference to an object that is only borrowed.
template <typename T>
GRef<T> addRef(T* object) {
  if (object != nullptr) g_object_ref(object);
  return GRef<T>(object);
}

struct GFreeDeleter {
  void operator()(void* memory) const noexcept { g_free(memory); }
};

// A g_malloc'd string or block.
using GChars = std::unique_ptr<gchar, GFreeDeleter>;

struct GHashTableUnref {
  void operator()(GHashTable* table) const noexcept {
    if (table != nullptr) g_hash_table_unref(table);
  }
};
using GHashRef = std::unique_ptr<GHashTable, GHashTableUnref>;

// A GError out-slot that frees whatever error it received.
class ErrorSlot {
 public:
  ErrorSlot() = default;
  ErrorSlot(const ErrorSlot&) = delete;
  ErrorSlot& operator=(const ErrorSlot&) = delete;
  ~ErrorSlot() { g_clear_error(&error_); }

  // Clears any previous error and hands out the slot for one call.
  GError** out() {
    g_clear_error(&error_);
    return &error_;
  }
  const GError* get() const { return error_; }
  explicit operator bool() const { return error_ != nullptr; }

 private:
  GError* error_ = nullptr;
};

// Text from the accessibility service as std::string, byte for byte; a null
// string becomes nothing.
inline std::string takeString(gchar* text) {
  GChars owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

}  // namespace focusctl::platform::atspi
