// One owner for one platform resource (a handle, a GDI object, a DC, a COM
// pointer). The traits say what "empty" is and how to let go; the wrapper
// keeps whatever the release needs (the window of a GetDC, say), so an
// acquire and its release always pair up.
//
//   struct Traits {
//     using Handle = ...;
//     static Handle Empty();
//     static bool IsEmpty(Handle h);   // may accept several empty values
//     void Release(Handle h);          // only called for non-empty handles
//   };
#pragma once

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() : handle_(Traits::Empty()) {}
  explicit UniqueResource(Handle handle, Traits traits = Traits())
      : handle_(handle), traits_(std::move(traits)) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept
      : handle_(other.Detach()), traits_(std::move(other.traits_)) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      Reset();
      traits_ = std::move(other.traits_);
      handle_ = other.Detach();
    }
    return *this;
  }
  ~UniqueResource() { Reset(); }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return !Traits::IsEmpty(handle_); }

  // Lets go of the current resource (if any) and takes `handle`.
  void Reset(Handle handle = Traits::Empty()) {
    Handle old = std::exchange(handle_, handle);
    if (!Traits::IsEmpty(old)) traits_.Release(old);
  }

  // Gives up ownership without releasing; for a resource whose ownership
  // passes to the platform.
  Handle Detach() { return std::exchange(handle_, Traits::Empty()); }

  // For functions that return a new resource through an out-parameter.
  Handle* Receive() {
    Reset();
    return &handle_;
  }

  const Traits& traits() const { return traits_; }

 private:
  Handle handle_;
  Traits traits_;
};
