// The runner in place of the address-book user: the access it grants, the prompt it answers and
// the screens it closes or picks from.
#include <gtest/gtest.h>

#include <atomic>

#include "HarborRunner.h"
#include "plat/addressbook/ABAddressBook.h"
#include "plat/addressbookui/ABPeoplePickerNavigationController.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIDriver.h"

namespace harbor::runner {
namespace {

TEST(RunnerOptions, ContactsAccessAndPick) {
  auto parsed = parseOptions({"--contacts-access=denied", "--pick-contact", "12", "a"});
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->contactsAccess, ContactsAccess::Denied);
  EXPECT_EQ(parsed->pickContact, 12);
  auto defaults = parseOptions({"a"});
  EXPECT_EQ(defaults->contactsAccess, ContactsAccess::Ask);
  EXPECT_EQ(defaults->pickContact, std::nullopt);

  const std::pair<std::vector<std::string>, std::string> bad[] = {
      {{"--contacts-access", "sure", "a"},
       "--contacts-access is one of ask, refuse, granted, denied, restricted, not \"sure\""},
      {{"--pick-contact", "0", "a"}, "--pick-contact needs a contact id from 1, not \"0\""},
      {{"--pick-contact", "3x", "a"}, "--pick-contact needs a contact id from 1, not \"3x\""},
  };
  for (const auto& [arguments, error] : bad) {
    auto result = parseOptions(arguments);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), error);
  }
}

class RunnerContacts : public plat::testing::SandboxTest {
 protected:
  void TearDown() override {
    plat::UIDriver::shared().reset();
    SandboxTest::TearDown();
  }

  struct Picks : plat::ABPeoplePickerNavigationControllerDelegate {
    void peoplePickerNavigationControllerDidSelectPerson(plat::ABPeoplePickerNavigationController&,
                                                         const plat::ABRecordRef& person) override {
      answers.push_back(person->recordID());
    }
    void peoplePickerNavigationControllerDidCancel(plat::ABPeoplePickerNavigationController& picker) override {
      answers.push_back(-1);
      picker.presentingViewController()->dismissViewControllerAnimated(false, nullptr);
    }
    std::vector<plat::ABRecordID> answers;
  };

  // Shows a picker and lets the stand-in answer it; what the delegate heard.
  std::vector<plat::ABRecordID> showPicker() {
    auto root = std::make_shared<plat::UIViewController>();
    auto delegate = std::make_shared<Picks>();
    auto picker = std::make_shared<plat::ABPeoplePickerNavigationController>();
    picker->setPeoplePickerDelegate(delegate);
    root->presentViewController(picker, false, nullptr);
    runUntilIdle();
    if (root->presentedViewController()) root->dismissViewControllerAnimated(false, nullptr);
    return delegate->answers;
  }
};

TEST_F(RunnerContacts, TheStandInGrantsAccessAndPicksTheChosenContactOnce) {
  auto parsed = parseOptions({"--pick-contact", "1", "a"});
  ASSERT_TRUE(parsed);
  standInForTheUser(*parsed);
  EXPECT_EQ(plat::ABAddressBookGetAuthorizationStatus(), plat::ABAuthorizationStatus::NotDetermined);
  auto book = plat::ABAddressBookCreateWithOptions();
  std::atomic<bool> answered{false};
  plat::ABAddressBookRequestAccessWithCompletion(book, [&](bool granted, const auto&) {
    EXPECT_TRUE(granted);
    answered = true;
  });
  for (int i = 0; i < 200 && !answered; ++i) waitForMain(0.01);
  ASSERT_TRUE(answered);
  EXPECT_TRUE(log_->contains("harbor: contacts access -> allowed"));

  auto person = plat::ABPersonCreate();
  person->setValue(plat::kABPersonFirstNameProperty, std::string("Ada"));
  ASSERT_TRUE(book->addRecord(person));
  ASSERT_TRUE(book->save());
  EXPECT_EQ(showPicker(), std::vector<plat::ABRecordID>{1});
  EXPECT_TRUE(log_->contains("harbor: screen 'Contacts' -> picked 1"));
  // Without the chosen contact the picker is cancelled.
  auto other = parseOptions({"--pick-contact", "7", "a"});
  standInForTheUser(*other);
  EXPECT_EQ(showPicker(), std::vector<plat::ABRecordID>{-1});
  EXPECT_TRUE(log_->contains("harbor: screen 'Contacts' -> Cancel"));
}

TEST_F(RunnerContacts, DecidedAccessIsSetBeforeTheStart) {
  const std::pair<const char*, plat::ABAuthorizationStatus> cases[] = {
      {"granted", plat::ABAuthorizationStatus::Authorized},
      {"denied", plat::ABAuthorizationStatus::Denied},
      {"restricted", plat::ABAuthorizationStatus::Restricted},
  };
  for (const auto& [name, status] : cases) {
    plat::SimulatedAddressBookAccess::reset();
    standInForTheUser(*parseOptions({std::string("--contacts-access=") + name, "a"}));
    EXPECT_EQ(plat::ABAddressBookGetAuthorizationStatus(), status) << name;
  }
}

}  // namespace
}  // namespace harbor::runner
