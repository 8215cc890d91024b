#pragma once
// The new-person screen with the request it answers.
#include <optional>
#include <string>

#include "plat/addressbookui/ABNewPersonViewController.h"

namespace harbor {

class HBRNewContactsController : public plat::ABNewPersonViewController {
 public:
  const std::optional<std::string>& callbackId() const { return callbackId_; }
  void setCallbackId(std::optional<std::string> id) { callbackId_ = std::move(id); }

 private:
  std::optional<std::string> callbackId_;
};

}  // namespace harbor
