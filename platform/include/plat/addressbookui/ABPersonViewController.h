#pragma once
// The address book's person screen ("Info"): shows one person; with editing allowed the user may
// change the fields listed by personFieldNames() and tap "Done", which stores the person in the
// screen's address book. Inside a navigation stack it has a "Back" button.
//
// Threads: main thread only.
#include <memory>
#include <string>
#include <vector>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

class ABPersonViewController;

class ABPersonViewControllerDelegate {
 public:
  virtual ~ABPersonViewControllerDelegate() = default;
  // Whether the platform performs its default action (call, mail, ...) for a tapped value.
  virtual bool personViewControllerShouldPerformDefaultActionForPersonPropertyIdentifier(
      ABPersonViewController& controller, const ABRecordRef& person, ABPropertyID property,
      ABMultiValueIdentifier identifier) = 0;
};

// The fields the person screens let the user fill in: "First", "Last", "Middle", "Nickname",
// "Organization", "Note", and "Phone" and "Email", which add a mobile number and a home address.
const std::vector<std::string>& personFieldNames();
// Writes one field into the person; false for an unknown field.
bool setPersonField(ABRecord& person, const std::string& field, const std::string& text);

class ABPersonViewController : public UIViewController, public UIDrivenScreen {
 public:
  const ABRecordRef& displayedPerson() const { return person_; }
  void setDisplayedPerson(ABRecordRef person) { person_ = std::move(person); }
  bool allowsEditing() const { return allowsEditing_; }
  void setAllowsEditing(bool allows) { allowsEditing_ = allows; }
  // The book the person came from, where "Done" stores it.
  const ABAddressBookRef& addressBook() const { return book_; }
  void setAddressBook(ABAddressBookRef book) { book_ = std::move(book); }
  void setPersonViewDelegate(std::weak_ptr<ABPersonViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<ABPersonViewControllerDelegate> personViewDelegate() const { return delegate_.lock(); }

  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // The user taps a value of the person: asks the delegate, true when the default action runs.
  bool tapValue(ABPropertyID property, ABMultiValueIdentifier identifier);

  std::string screenTitle() const override { return "Info"; }
  std::vector<std::string> buttonTitles() const override;
  bool tapButton(const std::string& title) override;
  std::vector<std::string> fieldNames() const override;
  bool setFieldText(const std::string& field, const std::string& text) override;

 private:
  ABRecordRef person_;
  ABAddressBookRef book_;
  bool allowsEditing_ = false;
  std::weak_ptr<ABPersonViewControllerDelegate> delegate_;
};

}  // namespace plat
