#pragma once
// Why no address book could be had: 0 (unknown: the request failed, or the book could not be
// opened) or 20 (the user refused access, or access is denied or restricted).
#include <cstdint>
#include <memory>

#include "plat/foundation/Object.h"

namespace harbor {

class HBRAddressBookAccessError : public plat::Object {
 public:
  explicit HBRAddressBookAccessError(std::uint64_t code = 0) : errorCode_(code) {}
  static std::shared_ptr<HBRAddressBookAccessError> initWithCode(std::uint64_t code) {
    return std::make_shared<HBRAddressBookAccessError>(code);
  }
  std::uint64_t errorCode() const { return errorCode_; }
  void setErrorCode(std::uint64_t code) { errorCode_ = code; }

 private:
  std::uint64_t errorCode_;
};

}  // namespace harbor
