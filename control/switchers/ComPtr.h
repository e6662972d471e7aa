#pragma once
// ComPtr: one counted reference to a switcher-driver object, given back when
// the holder lets go. adopt() takes a reference the caller already owns (an
// out-parameter of the driver); copies add their own.

#include <utility>

#include "control/switchers/ATEMSwitcherAPI.h"

namespace control {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : object_(other.object_) {
    if (object_) object_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ComPtr() {
    if (object_) object_->Release();
  }

  static ComPtr adopt(T* owned) {
    ComPtr pointer;
    pointer.object_ = owned;
    return pointer;
  }
  static ComPtr retain(T* borrowed) {
    if (borrowed) borrowed->AddRef();
    return adopt(borrowed);
  }

  // Asks `from` for interface `iid`; empty when refused.
  template <typename U>
  static ComPtr query(U* from, const atem::InterfaceID& iid) {
    void* result = nullptr;
    if (!from || from->QueryInterface(iid, &result) != atem::S_OK) return {};
    return adopt(static_cast<T*>(result));
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Out-parameter for the driver; drops what was held first.
  T** put() {
    *this = ComPtr();
    return &object_;
  }

 private:
  T* object_ = nullptr;
};

}  // namespace control
