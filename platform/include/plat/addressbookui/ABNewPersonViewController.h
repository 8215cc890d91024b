#pragma once
// The address book's new-person screen ("New Contact"): the user fills in fields of a new person
// and taps "Done", which adds the person to the screen's address book and saves it, or "Cancel".
// Either way the delegate hears it once: with the stored person, or with nothing.
//
// Threads: main thread only.
#include <memory>
#include <string>
#include <vector>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

class ABNewPersonViewController;

class ABNewPersonViewControllerDelegate {
 public:
  virtual ~ABNewPersonViewControllerDelegate() = default;
  // person is null when the user cancelled or the person could not be stored.
  virtual void newPersonViewControllerDidCompleteWithNewPerson(ABNewPersonViewController& controller,
                                                               const ABRecordRef& person) = 0;
};

class ABNewPersonViewController : public UIViewController, public UIDrivenScreen {
 public:
  ABNewPersonViewController();
  const ABAddressBookRef& addressBook() const { return book_; }
  void setAddressBook(ABAddressBookRef book) { book_ = std::move(book); }
  void setNewPersonViewDelegate(std::weak_ptr<ABNewPersonViewControllerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  const ABRecordRef& displayedPerson() const { return person_; }

  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  std::string screenTitle() const override { return "New Contact"; }
  std::vector<std::string> buttonTitles() const override { return {"Cancel", "Done"}; }
  bool tapButton(const std::string& title) override;
  std::vector<std::string> fieldNames() const override;
  bool setFieldText(const std::string& field, const std::string& text) override;

 private:
  ABRecordRef person_;
  ABAddressBookRef book_;
  std::weak_ptr<ABNewPersonViewControllerDelegate> delegate_;
  bool completed_ = false;
};

}  // namespace plat
