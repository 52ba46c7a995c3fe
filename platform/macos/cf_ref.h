// Ownership of CoreFoundation references and IOKit objects for the native backend: one owner
// each, released exactly once. Used by every file of platform/macos.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include <utility>

namespace padwarden::macos {

// An owned CoreFoundation reference (the result of a Create or Copy call, or one retained
// explicitly). Null stands for none.
template <typename T>
class CFRef {
 public:
  CFRef() = default;
  // Takes over a reference the caller owns.
  static CFRef adopt(T ref) { return CFRef(ref); }
  // Retains a reference the caller does not own (a Get result).
  static CFRef retain(T ref) {
    if (ref) CFRetain(ref);
    return CFRef(ref);
  }
  CFRef(const CFRef& other) : ref_(other.ref_) {
    if (ref_) CFRetain(ref_);
  }
  CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CFRef& operator=(CFRef other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }
  ~CFRef() {
    if (ref_) CFRelease(ref_);
  }

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  explicit CFRef(T ref) : ref_(ref) {}
  T ref_ = nullptr;
};

// An owned ::io_object_t (registry entry, service or iterator); 0 stands for none.
class IOObject {
 public:
  IOObject() = default;
  static IOObject adopt(::io_object_t object) { return IOObject(object); }
  static IOObject retain(::io_object_t object) {
    if (object) IOObjectRetain(object);
    return IOObject(object);
  }
  IOObject(const IOObject&) = delete;
  IOObject& operator=(const IOObject&) = delete;
  IOObject(IOObject&& other) noexcept : object_(std::exchange(other.object_, 0)) {}
  IOObject& operator=(IOObject&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~IOObject() {
    if (object_) IOObjectRelease(object_);
  }

  ::io_object_t get() const { return object_; }
  explicit operator bool() const { return object_ != 0; }

 private:
  explicit IOObject(::io_object_t object) : object_(object) {}
  ::io_object_t object_ = 0;
};

}  // namespace padwarden::macos
