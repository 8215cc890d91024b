#pragma once
// One pick in progress: the people picker with the request it answers.
#include <optional>
#include <string>

#include "plat/addressbookui/ABPeoplePickerNavigationController.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRContactsPicker : public plat::ABPeoplePickerNavigationController {
 public:
  // After a choice the contact is opened for editing instead of returned at once.
  bool allowsEditing() const { return allowsEditing_; }
  void setAllowsEditing(bool allows) { allowsEditing_ = allows; }
  const std::optional<std::string>& callbackId() const { return callbackId_; }
  void setCallbackId(std::optional<std::string> id) { callbackId_ = std::move(id); }
  const plat::Dictionary& options() const { return options_; }
  void setOptions(plat::Dictionary options) { options_ = std::move(options); }
  // The contact to answer with; {"id": -1} until one is chosen.
  const plat::Dictionary& pickedContactDictionary() const { return picked_; }
  void setPickedContactDictionary(plat::Dictionary picked) { picked_ = std::move(picked); }

 private:
  bool allowsEditing_ = false;
  std::optional<std::string> callbackId_;
  plat::Dictionary options_;
  plat::Dictionary picked_{{"id", -1}};
};

}  // namespace harbor
