// The address book on its SQLite file: records and multi-values kept whole across books and
// restarts, ids never reused, access and its prompt, search folding, a SIGKILL in the middle of
// saves, and the three address-book screens driven by the UI driver.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/addressbookui/ABNewPersonViewController.h"
#include "plat/addressbookui/ABPeoplePickerNavigationController.h"
#include "plat/addressbookui/ABPersonViewController.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/StringFolding.h"
#include "plat/testing/KilledWriter.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UINavigationController.h"

using namespace plat;

namespace {

class AddressBook : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    SimulatedAddressBookAccess::reset();
    SimulatedAddressBookAccess::setAuthorizationStatus(ABAuthorizationStatus::Authorized);
    UIDriver::shared().reset();
  }
  void TearDown() override {
    UIDriver::shared().reset();
    SimulatedAddressBookAccess::reset();
    SandboxTest::TearDown();
  }

  static ABMultiValue phones(std::initializer_list<std::pair<const char*, const char*>> entries) {
    ABMultiValue mv(ABPropertyType::MultiString);
    for (auto [value, label] : entries) mv.addValueAndLabel(value, label ? std::optional<std::string>(label) : std::nullopt);
    return mv;
  }

  // A person with something of every kind of property, added and saved.
  ABRecordID storeRichPerson(const ABAddressBookRef& book) {
    auto person = ABPersonCreate();
    EXPECT_TRUE(person->setValue(kABPersonFirstNameProperty, std::string("Zoë")));
    EXPECT_TRUE(person->setValue(kABPersonLastNameProperty, std::string("O'Brien; DROP TABLE people")));
    EXPECT_TRUE(person->setValue(kABPersonBirthdayProperty, ABDate{-86400.5}));
    EXPECT_TRUE(person->setValue(kABPersonPhoneProperty, phones({{"+1 555", kABPersonPhoneMobileLabel},
                                                                  {"+1 666", nullptr}})));
    ABMultiValue addresses(ABPropertyType::MultiDictionary);
    EXPECT_TRUE(addresses.addValueAndLabel(Dictionary{{kABPersonAddressCityKey, "Zürich"}}, kABWorkLabel));
    EXPECT_TRUE(person->setValue(kABPersonAddressProperty, addresses));
    EXPECT_TRUE(person->setImageData(Data{0xFF, 0xD8, 0x00, 0x01}));
    EXPECT_TRUE(book->addRecord(person));
    EXPECT_TRUE(book->save());
    return person->recordID();
  }
};

}  // namespace

TEST_F(AddressBook, RecordsSurviveANewBookAndAReopenedStore) {
  ABRecordID id;
  Value stored;
  {
    auto book = ABAddressBookCreateWithOptions();
    ASSERT_TRUE(book);
    id = storeRichPerson(book);
    EXPECT_EQ(id, 1);
    stored = book->getPersonWithRecordID(id)->toStoredValue();
    EXPECT_FALSE(book->hasUnsavedChanges());
  }
  // Every book is gone; a new one reads the file (another process opening it: the SIGKILL test).
  EXPECT_TRUE(exists(inHome("Library/AddressBook/AddressBook.sqlitedb")));
  auto book = ABAddressBookCreateWithOptions();
  auto person = book->getPersonWithRecordID(id);
  ASSERT_TRUE(person);
  EXPECT_EQ(person->toStoredValue(), stored);
  EXPECT_EQ(person->copyString(kABPersonFirstNameProperty), "Zoë");
  EXPECT_EQ(std::get<ABDate>(*person->copyValue(kABPersonBirthdayProperty)).secondsSince1970, -86400.5);
  auto phonesBack = std::get<ABMultiValue>(*person->copyValue(kABPersonPhoneProperty));
  ASSERT_EQ(phonesBack.count(), 2u);
  EXPECT_EQ(phonesBack.labelAtIndex(0), std::string(kABPersonPhoneMobileLabel));
  EXPECT_EQ(phonesBack.labelAtIndex(1), std::nullopt);
  EXPECT_EQ(person->copyImageData(), (Data{0xFF, 0xD8, 0x00, 0x01}));
  EXPECT_EQ(person->copyCompositeName(), "Zoë O'Brien; DROP TABLE people");
}

TEST_F(AddressBook, IdsStartAtOneAndAreNeverGivenOutAgain) {
  auto book = ABAddressBookCreateWithOptions();
  std::vector<ABRecordID> ids;
  for (int i = 0; i < 3; ++i) {
    auto person = ABPersonCreate();
    person->setValue(kABPersonNicknameProperty, std::to_string(i));
    ASSERT_TRUE(book->addRecord(person));
    EXPECT_EQ(person->recordID(), kABRecordInvalidID) << "no id before the save";
    ASSERT_TRUE(book->save());
    ids.push_back(person->recordID());
  }
  EXPECT_EQ(ids, (std::vector<ABRecordID>{1, 2, 3}));
  ASSERT_TRUE(book->removeRecord(book->getPersonWithRecordID(3)));
  ASSERT_TRUE(book->save());
  auto again = ABAddressBookCreateWithOptions();
  EXPECT_EQ(again->getPersonCount(), 2u);
  auto person = ABPersonCreate();
  ASSERT_TRUE(again->addRecord(person));
  ASSERT_TRUE(again->save());
  EXPECT_EQ(person->recordID(), 4);
}

TEST_F(AddressBook, UnsavedChangesStayInTheirBook) {
  auto writer = ABAddressBookCreateWithOptions();
  ABRecordID id = storeRichPerson(writer);
  auto person = writer->getPersonWithRecordID(id);
  ASSERT_TRUE(person->setValue(kABPersonNoteProperty, std::string("draft")));
  EXPECT_TRUE(writer->hasUnsavedChanges());
  auto reader = ABAddressBookCreateWithOptions();
  EXPECT_EQ(reader->getPersonWithRecordID(id)->copyString(kABPersonNoteProperty), std::nullopt);
  ASSERT_TRUE(writer->save());
  EXPECT_EQ(ABAddressBookCreateWithOptions()->getPersonWithRecordID(id)->copyString(kABPersonNoteProperty), "draft");
  // A removed image is gone from the store too.
  ASSERT_TRUE(person->removeImageData());
  ASSERT_TRUE(writer->save());
  EXPECT_FALSE(ABAddressBookCreateWithOptions()->getPersonWithRecordID(id)->hasImageData());
}

TEST_F(AddressBook, RecordsRefuseValuesOfTheWrongKind) {
  auto person = ABPersonCreate();
  NSError error;
  EXPECT_FALSE(person->setValue(kABPersonBirthdayProperty, std::string("1970-01-01"), &error));
  EXPECT_EQ(error.domain, kABErrorDomain);
  EXPECT_FALSE(person->setValue(kABPersonFirstNameProperty, ABDate{0}));
  // A date that is no point in time could not be stored: the person would be saved emptied.
  for (double notADate : {std::nan(""), HUGE_VAL, -HUGE_VAL})
    EXPECT_FALSE(person->setValue(kABPersonBirthdayProperty, ABDate{notADate})) << notADate;
  EXPECT_FALSE(person->setValue(kABPersonAddressProperty, phones({{"x", nullptr}})));
  EXPECT_FALSE(person->setValue(999, std::string("x")));
  EXPECT_FALSE(person->setImageData({}));
  ABMultiValue strings(ABPropertyType::MultiString);
  EXPECT_FALSE(strings.addValueAndLabel(Dictionary{{"a", "b"}}, std::nullopt));
  ABMultiValue dictionaries(ABPropertyType::MultiDictionary);
  EXPECT_FALSE(dictionaries.addValueAndLabel(Dictionary{{"a", 1}}, std::nullopt));
  // Identifiers are not reused within a value either.
  ABMultiValueIdentifier first = -1, second = -1;
  strings.addValueAndLabel("a", std::nullopt, &first);
  strings.removeValueAndLabelAtIndex(0);
  strings.addValueAndLabel("b", std::nullopt, &second);
  EXPECT_NE(first, second);
  EXPECT_EQ(strings.indexForIdentifier(first), -1);
  EXPECT_TRUE(person->values().empty());
}

TEST_F(AddressBook, AccessIsTheUsersAndThePromptIsAnsweredOffTheMainThread) {
  struct Case {
    ABAuthorizationStatus status;
    SimulatedAddressBookAccess::Answer answer;
    bool bookCreated;
    bool granted;
    bool failed;
    std::size_t prompts;
  };
  using A = SimulatedAddressBookAccess::Answer;
  const Case cases[] = {
      {ABAuthorizationStatus::NotDetermined, A::Grant, true, true, false, 1},
      {ABAuthorizationStatus::NotDetermined, A::Deny, true, false, false, 1},
      {ABAuthorizationStatus::NotDetermined, A::Fail, true, false, true, 1},
      {ABAuthorizationStatus::Authorized, A::Deny, true, true, false, 0},
      {ABAuthorizationStatus::Denied, A::Grant, false, false, false, 0},
      {ABAuthorizationStatus::Restricted, A::Grant, false, false, false, 0},
  };
  for (const auto& c : cases) {
    SimulatedAddressBookAccess::reset();
    SimulatedAddressBookAccess::setAuthorizationStatus(c.status);
    SimulatedAddressBookAccess::setAnswer(c.answer);
    NSError error;
    auto book = ABAddressBookCreateWithOptions(&error);
    EXPECT_EQ(book != nullptr, c.bookCreated);
    if (!book) {
      EXPECT_EQ(error.code, kABOperationNotPermittedByUserError);
      continue;
    }
    std::atomic<bool> done{false}, onMain{true}, granted{false}, failed{false};
    ABAddressBookRequestAccessWithCompletion(book, [&](bool g, const std::optional<NSError>& e) {
      onMain = isMainThread();
      granted = g;
      failed = e.has_value();
      done = true;
    });
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(done);
    EXPECT_FALSE(onMain);
    EXPECT_EQ(granted, c.granted);
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(SimulatedAddressBookAccess::promptCount(), c.prompts);
  }
  // Without access a created book shows nobody and cannot save.
  SimulatedAddressBookAccess::reset();
  auto book = ABAddressBookCreateWithOptions();
  ASSERT_TRUE(book);
  EXPECT_EQ(book->getPersonCount(), 0u);
  ASSERT_TRUE(book->addRecord(ABPersonCreate()));
  EXPECT_FALSE(book->save());
}

// --- What a change costs, and changes made elsewhere ---

namespace {

// Saves `count` people in one transaction, each with its number as first name.
std::vector<ABRecordID> storePeople(int count) {
  auto book = ABAddressBookCreateWithOptions();
  std::vector<ABRecordRef> people;
  for (int i = 1; i <= count; ++i) {
    auto person = ABPersonCreate();
    person->setValue(kABPersonFirstNameProperty, std::to_string(i));
    book->addRecord(person);
    people.push_back(person);
  }
  EXPECT_TRUE(book->save());
  std::vector<ABRecordID> ids;
  for (const auto& person : people) ids.push_back(person->recordID());
  return ids;
}

// Every person of a fresh book, as "id:first name".
std::vector<std::string> everyone() {
  std::vector<std::string> out;
  for (const auto& person : ABAddressBookCreateWithOptions()->copyArrayOfAllPeople())
    out.push_back(std::to_string(person->recordID()) + ":" + person->copyString(kABPersonFirstNameProperty).value_or("-"));
  return out;
}

}  // namespace

// In a large book a save reads no more than the person it changes, whether or not the store
// holds everyone already; once it does, its own commits keep everyone current without a read.
TEST_F(AddressBook, AChangeReadsOnlyThePersonItChanges) {
  constexpr int kPeople = 200;
  ASSERT_EQ(storePeople(kPeople).size(), static_cast<std::size_t>(kPeople));
  // From `first` on: an update, a remove, a new image, and one person added; the rows each read.
  auto changeFrom = [](ABRecordID first) {
    using Change = std::function<bool(const ABAddressBookRef& book)>;
    const Change changes[] = {
        [&](const ABAddressBookRef& book) {
          auto person = book->getPersonWithRecordID(first);
          return person && person->setValue(kABPersonFirstNameProperty, std::string("changed"));
        },
        [&](const ABAddressBookRef& book) { return book->removeRecord(book->getPersonWithRecordID(first + 1)); },
        [&](const ABAddressBookRef& book) {
          auto person = book->getPersonWithRecordID(first + 2);
          return person && person->setImageData(Data{1, 2, 3});
        },
        [](const ABAddressBookRef& book) {
          auto person = ABPersonCreate();
          person->setValue(kABPersonFirstNameProperty, std::string("new"));
          return book->addRecord(person);
        },
    };
    std::vector<std::uint64_t> rows;
    for (const Change& change : changes) {
      std::uint64_t before = ABAddressBookStoredRowsRead();
      auto book = ABAddressBookCreateWithOptions();
      EXPECT_TRUE(change(book));
      EXPECT_TRUE(book->save());
      rows.push_back(ABAddressBookStoredRowsRead() - before);
    }
    return rows;
  };

  EXPECT_EQ(changeFrom(7), (std::vector<std::uint64_t>{1, 1, 1, 0})) << "the store holds nobody yet";
  std::uint64_t before = ABAddressBookStoredRowsRead();
  EXPECT_EQ(everyone().size(), static_cast<std::size_t>(kPeople));
  EXPECT_EQ(ABAddressBookStoredRowsRead() - before, static_cast<std::uint64_t>(kPeople)) << "everyone read once";

  EXPECT_EQ(changeFrom(17), (std::vector<std::uint64_t>{0, 0, 0, 0})) << "the store holds everyone";
  before = ABAddressBookStoredRowsRead();
  auto people = everyone();
  EXPECT_EQ(ABAddressBookStoredRowsRead() - before, 0u);
  ASSERT_EQ(people.size(), static_cast<std::size_t>(kPeople));
  EXPECT_EQ(people[6], "7:changed");
  EXPECT_EQ(people[7], "9:9") << "8 is gone";
  EXPECT_EQ(people[15], "17:changed");
  EXPECT_EQ(people[16], "19:19") << "18 is gone";
  EXPECT_EQ(people[kPeople - 2], std::to_string(kPeople + 1) + ":new");
  EXPECT_EQ(people[kPeople - 1], std::to_string(kPeople + 2) + ":new");
  auto book = ABAddressBookCreateWithOptions();
  EXPECT_EQ(book->getPersonWithRecordID(9)->copyImageData(), (Data{1, 2, 3}));
  EXPECT_EQ(book->getPersonWithRecordID(19)->copyImageData(), (Data{1, 2, 3}));
  EXPECT_FALSE(book->getPersonWithRecordID(18));
}

// A person changed in one book and removed by another meanwhile: the change cannot be stored,
// and saying it was would lose it without a word.
TEST_F(AddressBook, ChangingAPersonRemovedMeanwhileFailsTheSave) {
  storePeople(3);
  auto editor = ABAddressBookCreateWithOptions();
  auto person = editor->getPersonWithRecordID(2);
  ASSERT_TRUE(person);
  ASSERT_TRUE(person->setValue(kABPersonNoteProperty, std::string("edited")));
  auto remover = ABAddressBookCreateWithOptions();
  ASSERT_TRUE(remover->removeRecord(remover->getPersonWithRecordID(2)));
  ASSERT_TRUE(remover->save());

  NSError error;
  EXPECT_FALSE(editor->save(&error));
  EXPECT_NE(error.localizedDescription.find("record 2 is no longer in the address book"), std::string::npos)
      << error.localizedDescription;
  EXPECT_TRUE(editor->hasUnsavedChanges());
  EXPECT_EQ(everyone(), (std::vector<std::string>{"1:1", "3:3"}));
}

// The writer of the test below: changes person 1's first name to "elsewhere" and adds one.
TEST(AddressBookOtherProcess, ChangesTheBook) {
  const char* home = std::getenv("HARBOR_ADDRESS_BOOK_OTHER_HOME");
  if (!home) GTEST_SKIP() << "runs only as the child of ChangesByAnotherProcessAreSeen";
  setHomeDirectory(home);
  SimulatedAddressBookAccess::setAuthorizationStatus(ABAuthorizationStatus::Authorized);
  auto book = ABAddressBookCreateWithOptions();
  ASSERT_TRUE(book);
  ASSERT_TRUE(book->getPersonWithRecordID(1)->setValue(kABPersonFirstNameProperty, std::string("elsewhere")));
  ASSERT_TRUE(book->removeRecord(book->getPersonWithRecordID(2)));
  auto person = ABPersonCreate();
  person->setValue(kABPersonFirstNameProperty, std::string("added elsewhere"));
  ASSERT_TRUE(book->addRecord(person));
  ASSERT_TRUE(book->save());
  std::printf("1\n");
  std::fflush(stdout);
  // Stays until it is killed, the store open.
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Another process's commit is seen by the next book, although this process's store held everyone
// and committed a change of its own (made before the other commit) before reading again.
TEST_F(AddressBook, ChangesByAnotherProcessAreSeen) {
  std::string folder = inHome("shared");
  ASSERT_TRUE(createSandboxFolders(folder));
  setHomeDirectory(folder);
  storePeople(3);
  ASSERT_EQ(everyone(), (std::vector<std::string>{"1:1", "2:2", "3:3"}));

  auto book = ABAddressBookCreateWithOptions();
  ASSERT_TRUE(book->getPersonWithRecordID(3)->setValue(kABPersonFirstNameProperty, std::string("here")));

  std::mt19937 random(1);
  ASSERT_EQ(plat::testing::runWriterUntilKilled("AddressBookOtherProcess.ChangesTheBook",
                                                "HARBOR_ADDRESS_BOOK_OTHER_HOME", folder, 1, random),
            std::optional<int>(1));
  ASSERT_TRUE(book->save());
  EXPECT_EQ(everyone(), (std::vector<std::string>{"1:elsewhere", "3:here", "4:added elsewhere"}));
}

// The address book's answers reach the main thread through mainSync: inline when already there
// (waiting for itself would never end), else on the loop while the caller waits.
TEST_F(AddressBook, MainSyncRunsInlineOnTheMainThreadAndWaitsFromOthers) {
  bool ran = false;
  dispatch::mainSync([&] { ran = true; });
  EXPECT_TRUE(ran) << "no turn of the loop needed";
  std::atomic<bool> returned{false};
  std::atomic<bool> ranOnMain{false};
  std::thread caller([&] {
    dispatch::mainSync([&] { ranOnMain = isMainThread(); });
    returned = true;
  });
  EXPECT_TRUE(waitForMain(5));
  caller.join();
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(returned);
}

TEST(StringFolding, IgnoresCaseAndAccentsAsAsked) {
  struct Case {
    const char* haystack;
    const char* needle;
    FoldOptions options;
    bool found;
  };
  const FoldOptions all{true, true}, caseOnly{true, false};
  const Case cases[] = {
      {"Zoë Müller", "zoe", all, true},   {"Zoë Müller", "MULLER", all, true}, {"Zoe", "zoë", all, true},
      {"Zoë", "zoe", caseOnly, false},    {"Zoë", "ZOË", caseOnly, true},      {"Straße", "STRASSE", all, true},
      {"ΣΊΣΥΦΟΣ", "σίσυφος", caseOnly, true}, {"山田太郎", "太郎", all, true}, {"山田太郎", "花子", all, false},
      {"anything", "", all, false},      {"", "a", all, false},               {"a\xff" "b", "b", all, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(containsFolded(c.haystack, c.needle, c.options), c.found) << c.haystack << " / " << c.needle;
}

// --- A SIGKILL in the middle of saving ---

// The writer half: runs in a child process started by the test below, saving numbered versions
// of one person and printing each number once its save returned.
TEST(AddressBookCrashWriter, SavesVersionsUntilKilled) {
  const char* home = std::getenv("HARBOR_ADDRESS_BOOK_WRITER_HOME");
  if (!home) GTEST_SKIP() << "runs only as the child of AddressBookCrash";
  setHomeDirectory(home);
  SimulatedAddressBookAccess::setAuthorizationStatus(ABAuthorizationStatus::Authorized);
  auto book = ABAddressBookCreateWithOptions();
  ASSERT_TRUE(book);
  for (int version = 1; version < 100000; ++version) {
    auto person = book->getPersonWithRecordID(1);
    if (!person) {
      person = ABPersonCreate();
      book->addRecord(person);
    }
    // Every property carries the version, with a long note so the write spans pages.
    std::string v = std::to_string(version);
    person->setValue(kABPersonFirstNameProperty, v);
    person->setValue(kABPersonNoteProperty, std::string(20000, 'n') + v);
    person->setValue(kABPersonLastNameProperty, v);
    person->setImageData(Data(5000, static_cast<std::uint8_t>(version)));
    ASSERT_TRUE(book->save());
    std::printf("%d\n", version);
    std::fflush(stdout);
  }
}

TEST_F(AddressBook, ASigkillDuringSavesKeepsTheLastWholeVersion) {
  std::string folder = inHome("crash");
  ASSERT_TRUE(createSandboxFolders(folder));
  // Kill it after a random number of reported saves, wherever it is in the next one.
  std::mt19937 random(std::random_device{}());
  const int killAfter = std::uniform_int_distribution<int>(3, 30)(random);
  std::optional<int> reported = plat::testing::runWriterUntilKilled(
      "AddressBookCrashWriter.SavesVersionsUntilKilled", "HARBOR_ADDRESS_BOOK_WRITER_HOME", folder, killAfter, random);
  ASSERT_TRUE(reported) << "the writer stopped before it was killed";
  const int lastReported = *reported;

  setHomeDirectory(folder);
  auto book = ABAddressBookCreateWithOptions();
  ASSERT_TRUE(book);
  ASSERT_EQ(book->getPersonCount(), 1u);
  auto person = book->getPersonWithRecordID(1);
  ASSERT_TRUE(person);
  std::string version = person->copyString(kABPersonFirstNameProperty).value_or("");
  int v = std::atoi(version.c_str());
  EXPECT_GE(v, lastReported) << "a reported save was lost";
  EXPECT_LE(v, lastReported + 1);
  EXPECT_EQ(person->copyString(kABPersonLastNameProperty), version) << "a half-written record";
  EXPECT_EQ(person->copyString(kABPersonNoteProperty), std::string(20000, 'n') + version);
  EXPECT_EQ(person->copyImageData(), Data(5000, static_cast<std::uint8_t>(v)));
}

// --- The screens ---

namespace {

struct PickerLog : ABPeoplePickerNavigationControllerDelegate {
  void peoplePickerNavigationControllerDidSelectPerson(ABPeoplePickerNavigationController& picker,
                                                       const ABRecordRef& person) override {
    selected = person->recordID();
  }
  void peoplePickerNavigationControllerDidCancel(ABPeoplePickerNavigationController& picker) override {
    cancelled = true;
    picker.presentingViewController()->dismissViewControllerAnimated(false, nullptr);
  }
  ABRecordID selected = kABRecordInvalidID;
  bool cancelled = false;
};

struct NewPersonLog : ABNewPersonViewControllerDelegate {
  void newPersonViewControllerDidCompleteWithNewPerson(ABNewPersonViewController&, const ABRecordRef& p) override {
    completed = true;
    person = p;
  }
  bool completed = false;
  ABRecordRef person;
};

}  // namespace

TEST_F(AddressBook, ThePickerListsPeopleAndTellsItsDelegate) {
  storeRichPerson(ABAddressBookCreateWithOptions());
  auto root = std::make_shared<UIViewController>();
  auto delegate = std::make_shared<PickerLog>();
  auto picker = std::make_shared<ABPeoplePickerNavigationController>();
  picker->setPeoplePickerDelegate(delegate);
  ASSERT_TRUE(root->presentViewController(picker, true, nullptr));
  auto& driver = UIDriver::shared();
  EXPECT_EQ(driver.topScreen(), nullptr) << "on screen on a later turn";
  runUntilIdle();
  ASSERT_EQ(driver.topScreen().get(), static_cast<UIDrivenScreen*>(picker.get()));
  EXPECT_EQ(driver.topScreen()->screenTitle(), "Contacts");
  EXPECT_EQ(driver.topScreen()->rows(), (std::vector<UIDrivenScreen::Row>{{1, "Zoë O'Brien; DROP TABLE people"}}));
  EXPECT_FALSE(driver.selectRow(2));
  EXPECT_TRUE(driver.selectRow(1));
  EXPECT_EQ(delegate->selected, 1);

  // A person screen pushed over the list has the user's attention until it goes back.
  auto person = std::make_shared<ABPersonViewController>();
  person->setDisplayedPerson(picker->addressBook()->getPersonWithRecordID(1));
  person->setAllowsEditing(true);
  person->setAddressBook(picker->addressBook());
  picker->pushViewController(person, true);
  runUntilIdle();
  ASSERT_EQ(driver.topScreen()->screenTitle(), "Info");
  EXPECT_EQ(driver.topScreen()->buttonTitles(), (std::vector<std::string>{"Back", "Done"}));
  EXPECT_FALSE(picker->tapButton("Cancel"));
  EXPECT_TRUE(driver.setFieldText("Nickname", "Zo"));
  EXPECT_TRUE(driver.tapScreenButton("Done"));
  EXPECT_EQ(ABAddressBookCreateWithOptions()->getPersonWithRecordID(1)->copyString(kABPersonNicknameProperty), "Zo");
  EXPECT_TRUE(driver.tapScreenButton("Back"));
  EXPECT_TRUE(driver.tapScreenButton("Cancel"));
  EXPECT_TRUE(delegate->cancelled);
  EXPECT_TRUE(driver.screens().empty());
}

TEST_F(AddressBook, TheNewPersonScreenStoresWhatWasFilledIn) {
  for (const char* button : {"Done", "Cancel"}) {
    auto root = std::make_shared<UIViewController>();
    auto delegate = std::make_shared<NewPersonLog>();
    auto screen = std::make_shared<ABNewPersonViewController>();
    screen->setNewPersonViewDelegate(delegate);
    auto navigation = std::make_shared<UINavigationController>();
    navigation->initWithRootViewController(screen);
    root->presentViewController(navigation, true, nullptr);
    runUntilIdle();
    auto& driver = UIDriver::shared();
    ASSERT_TRUE(driver.topScreen());
    EXPECT_EQ(driver.topScreen()->screenTitle(), "New Contact");
    EXPECT_TRUE(driver.setFieldText("First", "Ada"));
    EXPECT_TRUE(driver.setFieldText("Phone", "123"));
    EXPECT_FALSE(driver.setFieldText("Shoe size", "9"));
    EXPECT_TRUE(driver.tapScreenButton(button));
    EXPECT_FALSE(driver.tapScreenButton(button)) << "answers once";
    EXPECT_TRUE(delegate->completed);
    root->dismissViewControllerAnimated(false, nullptr);
    EXPECT_TRUE(driver.screens().empty());
    if (std::string(button) == "Done") {
      ASSERT_TRUE(delegate->person);
      auto stored = ABAddressBookCreateWithOptions()->getPersonWithRecordID(delegate->person->recordID());
      ASSERT_TRUE(stored);
      EXPECT_EQ(stored->copyString(kABPersonFirstNameProperty), "Ada");
    } else {
      EXPECT_FALSE(delegate->person);
      EXPECT_EQ(ABAddressBookCreateWithOptions()->getPersonCount(), 1u);
    }
  }
}

TEST_F(AddressBook, TheAutomaticScreenAnswerActsOnTheTopScreenOnly) {
  storeRichPerson(ABAddressBookCreateWithOptions());
  std::vector<std::string> seen;
  UIDriver::shared().setScreenAnswer([&](UIDrivenScreen& screen) {
    seen.push_back(screen.screenTitle());
    if (screen.screenTitle() == "Contacts") screen.tapButton("Cancel");
  });
  auto root = std::make_shared<UIViewController>();
  auto delegate = std::make_shared<PickerLog>();
  auto picker = std::make_shared<ABPeoplePickerNavigationController>();
  picker->setPeoplePickerDelegate(delegate);
  root->presentViewController(picker, true, nullptr);
  runUntilIdle();
  EXPECT_TRUE(delegate->cancelled);
  EXPECT_EQ(seen, (std::vector<std::string>{"Contacts"}));
}
