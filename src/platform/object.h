// The object model the program stands on: shared ownership, nil, casts and
// delegates. Objects are std::shared_ptr; nil is nullptr; a weak reference is
// std::weak_ptr. Every use of something that may be nil goes through Use(),
// which raises NilObjectException instead of crashing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/exceptions.h"

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;
};

// Gives the object behind p, or raises NilObjectException naming what was nil.
template <class P>
auto& Use(const P& p, const char* what = "object") {
  if (!p) throw NilObjectException(std::string("nil ") + what);
  return *p;
}

// A cast gives the same object as another class, or nil when it is not one.
template <class T, class U>
std::shared_ptr<T> Cast(const std::shared_ptr<U>& p) {
  return std::dynamic_pointer_cast<T>(p);
}

// A function together with the signature text it was made for. The target,
// when there is one, is held weakly by whoever builds the function, so a
// delegate never keeps its window alive.
template <class Sig>
struct Delegate {
  std::function<Sig> fn;
  std::string signature;

  explicit operator bool() const { return static_cast<bool>(fn); }
  template <class... A>
  decltype(auto) operator()(A&&... a) const {
    return fn(std::forward<A>(a)...);
  }
};

// Binds a method to a target that is held weakly: once the target is gone the
// delegate does nothing (and gives a default value).
template <class R, class T, class... A>
Delegate<R(A...)> BindWeak(const std::shared_ptr<T>& target, R (T::*method)(A...), std::string signature) {
  std::weak_ptr<T> weak = target;
  return {[weak, method](A... a) -> R {
            if (auto t = weak.lock()) return ((*t).*method)(std::forward<A>(a)...);
            return R();
          },
          std::move(signature)};
}
