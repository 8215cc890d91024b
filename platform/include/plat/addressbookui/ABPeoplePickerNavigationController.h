#pragma once
// The address book's people picker ("Contacts"): a navigation controller listing every person of
// its own address book (read when the picker appears). Choosing a row tells the delegate which
// person was chosen; "Cancel" tells it that the user gave up. The picker never closes itself:
// its delegate dismisses it.
//
// Threads: main thread only.
#include <memory>
#include <string>
#include <vector>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UINavigationController.h"

namespace plat {

class ABPeoplePickerNavigationController;

class ABPeoplePickerNavigationControllerDelegate {
 public:
  virtual ~ABPeoplePickerNavigationControllerDelegate() = default;
  virtual void peoplePickerNavigationControllerDidSelectPerson(ABPeoplePickerNavigationController& picker,
                                                               const ABRecordRef& person) = 0;
  virtual void peoplePickerNavigationControllerDidCancel(ABPeoplePickerNavigationController& picker) = 0;
};

class ABPeoplePickerNavigationController : public UINavigationController, public UIDrivenScreen {
 public:
  const ABAddressBookRef& addressBook() const { return book_; }
  void setPeoplePickerDelegate(std::weak_ptr<ABPeoplePickerNavigationControllerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  std::string screenTitle() const override { return "Contacts"; }
  std::vector<std::string> buttonTitles() const override { return {"Cancel"}; }
  bool tapButton(const std::string& title) override;
  std::vector<Row> rows() const override;
  bool selectRow(std::int64_t id) override;

 private:
  ABAddressBookRef book_;
  std::weak_ptr<ABPeoplePickerNavigationControllerDelegate> delegate_;
  bool onScreen_ = false;
};

}  // namespace plat
