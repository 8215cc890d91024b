#pragma once
// The device's address book for the page. Contacts travel as dictionaries in the W3C contact
// shape (HBRContact converts them). Every action first obtains an address book, asking the user
// for access when that was never decided.
//
// Page actions (arrive on the main thread; keep-callback always off; "error object" is status 9
// with {"code": n}, "bare code" status 9 with the integer n as the whole message):
//   newContact     []                    -> OK with the new person's id, or -1 when the user
//                                           cancelled the new-person screen; error object
//                                           (access code) without a book
//   displayContact [id, options|null]    -> nothing on success: the person screen is shown,
//                                           also in edit mode when options.allowsEditing is
//                                           true or the text "true" in any case; error object
//                                           (access code) without a book; bare 0 when no
//                                           person has the id
//   chooseContact  [options|null]        -> OK with the chosen contact (options.fields; edited
//                                           first when options.allowsEditing); bare 6 when the
//                                           picker is closed without a choice
//   pickContact    [fields = ["*"]]      -> as chooseContact without editing; bare 20 when access
//                                           is refused, denied or restricted
//   search         [fields, options|null]-> OK with an array of contacts; error object (access
//                                           code) without a book. Begins on the global queue.
//   save           [contact]             -> OK with the stored contact (all default fields);
//                                           bare 4 when it cannot be stored; bare access code
//                                           without a book. Begins on the global queue, where a
//                                           remote photo is read.
//   remove         [id]                  -> OK with no message; bare 1 (no id, null or -1),
//                                           0 (no such person), 4 (cannot remove) or the access
//                                           code
// All reading and writing of the address book, and every answer, happens on the main thread.
// The screens are presented from the plugin's view controller; a pick lives in its
// HBRContactsPicker until the picker is dismissed.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HBRContact.h"
#include "HBRPlugin.h"
#include "plat/addressbookui/ABNewPersonViewController.h"
#include "plat/addressbookui/ABPeoplePickerNavigationController.h"
#include "plat/addressbookui/ABPersonViewController.h"

namespace harbor {

// The contact error codes the page receives.
inline constexpr int kHBRContactUnknownError = 0;
inline constexpr int kHBRContactInvalidArgumentError = 1;
inline constexpr int kHBRContactIOError = 4;
inline constexpr int kHBRContactOperationCancelledError = 6;
inline constexpr int kHBRContactPermissionDeniedError = 20;

class HBRContacts : public HBRPlugin,
                    public plat::ABNewPersonViewControllerDelegate,
                    public plat::ABPersonViewControllerDelegate,
                    public plat::ABPeoplePickerNavigationControllerDelegate {
 public:
  HBRContacts();

  void newContact(const HBRInvokedUrlCommandPtr& command);
  void displayContact(const HBRInvokedUrlCommandPtr& command);
  void chooseContact(const HBRInvokedUrlCommandPtr& command);
  void pickContact(const HBRInvokedUrlCommandPtr& command);
  void search(const HBRInvokedUrlCommandPtr& command);
  void save(const HBRInvokedUrlCommandPtr& command);
  void remove(const HBRInvokedUrlCommandPtr& command);

  // Whether dict[key] is text equal to val, ignoring letter case.
  static bool existsValue(const plat::Dictionary& dict, const std::string& val, const std::string& key);

  // The screens' delegate calls.
  void newPersonViewControllerDidCompleteWithNewPerson(plat::ABNewPersonViewController& controller,
                                                       const plat::ABRecordRef& person) override;
  bool personViewControllerShouldPerformDefaultActionForPersonPropertyIdentifier(
      plat::ABPersonViewController& controller, const plat::ABRecordRef& person, plat::ABPropertyID property,
      plat::ABMultiValueIdentifier identifier) override;
  void peoplePickerNavigationControllerDidSelectPerson(plat::ABPeoplePickerNavigationController& picker,
                                                       const plat::ABRecordRef& person) override;
  void peoplePickerNavigationControllerDidCancel(plat::ABPeoplePickerNavigationController& picker) override;
  // The older picker callbacks: choosing a person acts as didSelectPerson and stops there.
  bool peoplePickerNavigationControllerShouldContinueAfterSelectingPerson(
      plat::ABPeoplePickerNavigationController& picker, const plat::ABRecordRef& person);
  bool peoplePickerNavigationControllerShouldContinueAfterSelectingPersonPropertyIdentifier(
      plat::ABPeoplePickerNavigationController& picker, const plat::ABRecordRef& person, plat::ABPropertyID property,
      plat::ABMultiValueIdentifier identifier) {
    return true;
  }
  void peoplePickerNavigationControllerDidSelectPersonPropertyIdentifier(
      plat::ABPeoplePickerNavigationController& picker, const plat::ABRecordRef& person, plat::ABPropertyID property,
      plat::ABMultiValueIdentifier identifier) {}

 private:
  void sendErrorObject(const std::optional<std::string>& callbackId, int code);
  void sendBareCode(const std::optional<std::string>& callbackId, int code);
  void sendResult(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId);
  bool present(const std::shared_ptr<plat::UIViewController>& controller);
  // Obtains an address book and runs body with it on the main thread; without one, answers the
  // access error's code as an error object or a bare code. Nothing runs once the plugin is gone.
  void withAddressBook(const std::optional<std::string>& callbackId, bool errorObject,
                       std::function<void(HBRContacts& self, const plat::ABAddressBookRef& book)> body);
};

}  // namespace harbor
