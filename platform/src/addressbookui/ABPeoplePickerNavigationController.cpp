#include "plat/addressbookui/ABPeoplePickerNavigationController.h"

namespace plat {

void ABPeoplePickerNavigationController::viewDidAppear(bool animated) {
  // The picker shows the people as they are when it comes up; it never asks for access itself.
  if (!book_) book_ = ABAddressBookCreateWithOptions();
  // The list is the root of the stack, so person screens pushed over it can go back to it.
  if (viewControllers().empty()) initWithRootViewController(std::make_shared<UIViewController>());
  onScreen_ = true;
  UIDriver::shared().screenDidAppear(std::dynamic_pointer_cast<UIDrivenScreen>(self<UIViewController>()));
  UINavigationController::viewDidAppear(animated);
}

void ABPeoplePickerNavigationController::viewDidDisappear(bool animated) {
  UINavigationController::viewDidDisappear(animated);
  onScreen_ = false;
  UIDriver::shared().screenDidDisappear(this);
}

bool ABPeoplePickerNavigationController::tapButton(const std::string& title) {
  // Only the list itself answers: a person screen pushed over it has the user's attention.
  if (title != "Cancel" || !onScreen_ || viewControllers().size() > 1) return false;
  auto keep = self<UIViewController>();
  if (auto delegate = delegate_.lock()) delegate->peoplePickerNavigationControllerDidCancel(*this);
  return true;
}

std::vector<UIDrivenScreen::Row> ABPeoplePickerNavigationController::rows() const {
  std::vector<Row> rows;
  if (!book_) return rows;
  for (const auto& person : book_->copyArrayOfAllPeople()) {
    auto name = person->copyCompositeName();
    if (!name) name = person->copyString(kABPersonNicknameProperty);
    rows.push_back(Row{person->recordID(), name.value_or("No Name")});
  }
  return rows;
}

bool ABPeoplePickerNavigationController::selectRow(std::int64_t id) {
  if (!book_ || !onScreen_ || viewControllers().size() > 1 || id < 1 || id > INT32_MAX) return false;
  auto person = book_->getPersonWithRecordID(static_cast<ABRecordID>(id));
  if (!person) return false;
  auto keep = self<UIViewController>();
  if (auto delegate = delegate_.lock()) delegate->peoplePickerNavigationControllerDidSelectPerson(*this, person);
  return true;
}

}  // namespace plat
