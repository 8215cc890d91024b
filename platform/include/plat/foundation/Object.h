#pragma once
// Root of the platform object model. Strong references are shared_ptr, back-references (a plugin
// to its controller, say) weak_ptr. Creation and initialisation are two steps (make, then init...),
// so that an object can hand out weak references to itself while it initialises.
#include <memory>

namespace plat {

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  // shared_from_this() cast to the caller's class; the object must already be owned.
  template <class T>
  std::shared_ptr<T> self() {
    return std::static_pointer_cast<T>(shared_from_this());
  }
  template <class T>
  std::weak_ptr<T> weakSelf() {
    return std::static_pointer_cast<T>(shared_from_this());
  }
};

using ObjectPtr = std::shared_ptr<Object>;

}  // namespace plat
