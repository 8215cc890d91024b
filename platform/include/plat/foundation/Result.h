#pragma once
// A value or an error text: what every fallible platform call returns instead of throwing.
#include <string>
#include <utility>
#include <variant>

namespace plat {

struct Failure {
  std::string description;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Failure failure) : v_(std::move(failure)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& operator*() { return std::get<0>(v_); }
  const T& operator*() const { return std::get<0>(v_); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }
  const std::string& error() const { return std::get<1>(v_).description; }

 private:
  std::variant<T, Failure> v_;
};

}  // namespace plat
