#pragma once
// "Class from name": a registry of factories by class name. Each library registers its classes
// with one explicit call (static libraries would drop static initialisers). A factory only
// allocates; the caller runs the class's own initialiser afterwards.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "plat/foundation/Object.h"

namespace plat {

class ClassRegistry {
 public:
  using Factory = std::function<ObjectPtr()>;

  static ClassRegistry& shared();

  void registerClass(const std::string& name, Factory factory);
  template <class T>
  void registerClass(const std::string& name) {
    registerClass(name, [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); });
  }
  void unregisterClass(const std::string& name);
  bool hasClass(const std::string& name);
  // A new object of the named class, or null when no such class is registered.
  ObjectPtr create(const std::string& name);

 private:
  std::mutex mutex_;
  std::map<std::string, Factory> factories_;
};

}  // namespace plat
