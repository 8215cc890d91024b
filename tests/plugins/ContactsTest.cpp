// The contacts plugin on a real address-book file: contacts through save and search, updates,
// the label and field tables, search matching, access refusals in each action's error form, and
// the picker, person and new-person screens answered through the UI driver.
#include <gtest/gtest.h>
#include <cmath>

#include "../platform/LoopbackServer.h"
#include "ContactsPlugin.h"
#include "HBRContact.h"
#include "HBRContactPhotoLoader.h"
#include "HBRContacts.h"
#include "plat/addressbook/ABAddressBook.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/uikit/UIDriver.h"
#include "support/PluginTest.h"

namespace plat {
// Readable failure output; internal linkage so other test files may have their own.
[[maybe_unused]] static void PrintTo(const Value& v, std::ostream* os) { *os << v.description(); }
[[maybe_unused]] static void PrintTo(const Dictionary& d, std::ostream* os) { *os << Value(d).description(); }
}  // namespace plat

using namespace harbor;
using harbor::testing::PageCallback;
using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

class Contacts : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    registerContactsPlugin();
    plat::SimulatedAddressBookAccess::reset();
    plat::SimulatedAddressBookAccess::setAuthorizationStatus(plat::ABAuthorizationStatus::Authorized);
    driver().reset();
    root = std::make_shared<plat::UIViewController>();
    plugin = create<HBRContacts>("HBRContacts", "Contacts", root);
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    driver().reset();
    plat::SimulatedAddressBookAccess::reset();
    PluginTest::TearDown();
  }
  plat::UIDriver& driver() { return plat::UIDriver::shared(); }

  // Turns the main loop until the condition holds; the address book answers from other threads.
  template <class F>
  bool turnUntil(F&& condition) {
    for (int i = 0; i < 400; ++i) {
      runUntilIdle();
      if (condition()) return true;
      waitForMain(0.025);
    }
    return condition();
  }
  // The next answer the page receives.
  PageCallback next() {
    turnUntil([&] {
      for (auto& c : takeCallbacks()) received.push_back(std::move(c));
      return !received.empty();
    });
    if (received.empty()) {
      ADD_FAILURE() << "no answer";
      return {};
    }
    PageCallback c = received.front();
    received.erase(received.begin());
    return c;
  }
  PageCallback call(const std::string& action, const Array& arguments) {
    exec("Contacts", action, arguments);
    return next();
  }
  // As a WKWebView page sends it, values as WebKit delivers them (PluginTest::execMessage).
  PageCallback message(const std::string& action, const Array& arguments) {
    execMessage("Contacts", action, arguments);
    return next();
  }
  Dictionary saved(const Dictionary& contact) {
    auto answer = call("save", Array{contact});
    EXPECT_EQ(answer.status, 1) << answer.message.description();
    return answer.message.isDictionary() ? answer.message.asDictionary() : Dictionary{};
  }
  Array found(const Array& fields, const Value& options) {
    auto answer = call("search", Array{fields, options});
    EXPECT_EQ(answer.status, 1) << answer.message.description();
    return answer.message.isArray() ? answer.message.asArray() : Array{};
  }
  std::vector<Value> idsOf(const Array& contacts) {
    std::vector<Value> ids;
    for (const auto& c : contacts) ids.push_back(c["id"]);
    return ids;
  }
  bool screenOnTop(const std::string& title) {
    return turnUntil([&] { return driver().topScreen() && driver().topScreen()->screenTitle() == title; });
  }

  std::shared_ptr<plat::UIViewController> root;
  std::shared_ptr<HBRContacts> plugin;
  std::vector<PageCallback> received;
};

Dictionary richContact(const std::string& photoURL) {
  return Dictionary{
      {"name", Dictionary{{"givenName", "Zoë"}, {"familyName", "Müller"}, {"middleName", "Ann"},
                          {"honorificPrefix", "Dr."}, {"honorificSuffix", "PhD"}}},
      {"nickname", "Zo"},
      {"phoneNumbers", Array{Dictionary{{"type", "mobile"}, {"value", "+41 79 000"}},
                             Dictionary{{"type", "WORK"}, {"value", "+41 44 111"}},
                             Dictionary{{"type", "fax"}, {"value", "+41 44 222"}},
                             Dictionary{{"type", "boat"}, {"value", "+41 44 333"}}}},
      {"emails", Array{Dictionary{{"type", "home"}, {"value", "zoe@example.org"}}}},
      {"urls", Array{Dictionary{{"type", "profile"}, {"value", "https://example.org/zoe"}}}},
      {"addresses", Array{Dictionary{{"type", "work"}, {"streetAddress", "Bahnhofstrasse 1"}, {"locality", "Zürich"},
                                     {"region", "ZH"}, {"postalCode", "8001"}, {"country", "Switzerland"}}}},
      {"ims", Array{Dictionary{{"type", "AIM"}, {"value", "zoe_m"}}, Dictionary{{"type", "skype"}, {"value", "zm"}}}},
      {"organizations", Array{Dictionary{{"name", "Harbor AG"}, {"title", "Engineer"}, {"department", "Mobile"}}}},
      {"birthday", 482198400000.0},
      {"note", "Met at \"the\" conference; O'Brien's friend"},
      {"photos", Array{Dictionary{{"type", "url"}, {"value", photoURL}}}},
  };
}

}  // namespace

TEST_F(Contacts, ARichContactComesBackWholeFromSaveAndSearch) {
  writeFile(inHome("Documents/my photo.jpg"), "\xFF\xD8 photo bytes");
  auto stored = saved(richContact("file://" + inHome("Documents/my%20photo.jpg")));
  ASSERT_TRUE(stored.get("id").isInteger());
  auto id = stored.get("id").asInt();
  EXPECT_EQ(id, 1);

  const Value expectedName = Dictionary{{"givenName", "Zoë"},      {"familyName", "Müller"},      {"middleName", "Ann"},
                                        {"honorificPrefix", "Dr."}, {"honorificSuffix", "PhD"},
                                        {"formatted", "Dr. Zoë Ann Müller PhD"}};
  EXPECT_EQ(stored.get("name"), expectedName);
  EXPECT_EQ(stored.get("nickname"), Value("Zo"));
  // Fax is written as a custom label "fax" and read back as "fax"; unknown types stay custom.
  const Value expectedPhones = Array{
      Dictionary{{"type", "mobile"}, {"value", "+41 79 000"}, {"pref", false}, {"id", 0}},
      Dictionary{{"type", "work"}, {"value", "+41 44 111"}, {"pref", false}, {"id", 1}},
      Dictionary{{"type", "fax"}, {"value", "+41 44 222"}, {"pref", false}, {"id", 2}},
      Dictionary{{"type", "boat"}, {"value", "+41 44 333"}, {"pref", false}, {"id", 3}}};
  EXPECT_EQ(stored.get("phoneNumbers"), expectedPhones);
  EXPECT_EQ(stored.get("urls").at(0)["type"], Value("profile"));
  EXPECT_EQ(stored.get("addresses"),
            Value(Array{Dictionary{{"id", 0}, {"type", "work"}, {"pref", "false"}, {"streetAddress", "Bahnhofstrasse 1"},
                                   {"locality", "Zürich"}, {"region", "ZH"}, {"postalCode", "8001"},
                                   {"country", "Switzerland"}}}));
  EXPECT_EQ(stored.get("ims"), Value(Array{Dictionary{{"value", "zoe_m"}, {"type", "aim"}, {"id", 0}},
                                           Dictionary{{"value", "zm"}, {"type", "skype"}, {"id", 1}}}));
  EXPECT_EQ(stored.get("organizations"),
            Value(Array{Dictionary{{"name", "Harbor AG"}, {"title", "Engineer"}, {"department", "Mobile"},
                                   {"pref", "false"}, {"type", Value::null()}}}));
  EXPECT_EQ(stored.get("birthday").asDouble(), 482198400000.0);
  EXPECT_EQ(stored.get("note"), Value("Met at \"the\" conference; O'Brien's friend"));
  std::string photoPath = stored.get("photos").at(0)["value"].stringOr();
  EXPECT_EQ(photoPath, plat::stringByStandardizingPath(plat::NSTemporaryDirectory()) + "/contact_photo_1");
  EXPECT_EQ(readFile(photoPath), "\xFF\xD8 photo bytes");
  EXPECT_FALSE(stored.contains("displayName")) << "not among the default fields";

  // The platform record holds the service and label constants the tables name.
  auto person = plat::ABAddressBookCreateWithOptions()->getPersonWithRecordID(1);
  auto ims = std::get<plat::ABMultiValue>(*person->copyValue(plat::kABPersonInstantMessageProperty));
  EXPECT_EQ(ims.valueAtIndex(0), Value(Dictionary{{plat::kABPersonInstantMessageUsernameKey, "zoe_m"},
                                                  {plat::kABPersonInstantMessageServiceKey, plat::kABPersonInstantMessageServiceAIM}}));
  EXPECT_EQ(ims.labelAtIndex(0), std::string(plat::kABOtherLabel));

  // Read again through search: the same contact, and the photo file written again.
  plat::NSFileManager::defaultManager().removeItemAtPath(photoPath);
  auto all = found(Array{"*"}, Dictionary{{"filter", ""}, {"multiple", true}});
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], Value(stored));
  EXPECT_EQ(readFile(photoPath), "\xFF\xD8 photo bytes");
}

TEST_F(Contacts, UpdatesChangeOnlyWhatTheyName) {
  auto first = saved(richContact(""));
  Dictionary update{
      {"id", first.get("id")},
      {"name", Dictionary{{"givenName", "Zoe"}, {"middleName", ""}}},
      {"phoneNumbers", Array{Dictionary{{"id", 0}, {"value", ""}},                        // removed
                             Dictionary{{"id", 1}, {"value", "+41 44 999"}, {"type", "home"}},  // changed
                             Dictionary{{"id", 99}, {"value", "+1 new"}, {"type", "pager"}}}},  // unknown: added
      {"emails", Array{}},
      {"organizations", Array{}},
      {"addresses", Array{Dictionary{{"id", 0}, {"locality", "Bern"}, {"region", Value::null()}}}},
      {"birthday", 0},
  };
  auto after = saved(update);
  EXPECT_EQ(after.get("id"), first.get("id"));
  EXPECT_EQ(after.get("name")["givenName"], Value("Zoe"));
  EXPECT_EQ(after.get("name")["middleName"], Value::null());
  EXPECT_EQ(after.get("name")["familyName"], Value("Müller")) << "untouched";
  EXPECT_EQ(after.get("nickname"), Value("Zo"));
  const Value phones = Array{Dictionary{{"type", "home"}, {"value", "+41 44 999"}, {"pref", false}, {"id", 1}},
                             Dictionary{{"type", "fax"}, {"value", "+41 44 222"}, {"pref", false}, {"id", 2}},
                             Dictionary{{"type", "boat"}, {"value", "+41 44 333"}, {"pref", false}, {"id", 3}},
                             Dictionary{{"type", "pager"}, {"value", "+1 new"}, {"pref", false}, {"id", 4}}};
  EXPECT_EQ(after.get("phoneNumbers"), phones);
  EXPECT_EQ(after.get("emails"), Value::null());
  EXPECT_EQ(after.get("organizations"), Value::null());
  // Absent parts are kept, null ones dropped.
  EXPECT_EQ(after.get("addresses").at(0)["locality"], Value("Bern"));
  EXPECT_EQ(after.get("addresses").at(0)["streetAddress"], Value("Bahnhofstrasse 1"));
  EXPECT_EQ(after.get("addresses").at(0)["region"], Value::null());
  // Birthday 0 is 1970-01-01 00:00:00 UTC, not "no birthday".
  EXPECT_TRUE(after.get("birthday").isNumber());
  EXPECT_EQ(after.get("birthday").asDouble(), 0.0);
  EXPECT_EQ(found(Array{"birthday"}, Dictionary{{"filter", "1970-01-01 00:00:00"}}).size(), 1u);
}

TEST_F(Contacts, TypesAndLabelsConvertBothWays) {
  struct Case {
    Value type;
    std::optional<std::string> label;
  };
  const Case toLabel[] = {
      {"work", plat::kABWorkLabel},      {"HOME", plat::kABHomeLabel},
      {"Other", plat::kABOtherLabel},    {"mobile", plat::kABPersonPhoneMobileLabel},
      {"pager", plat::kABPersonPhonePagerLabel}, {"AIM", plat::kABPersonInstantMessageServiceAIM},
      {"icq", plat::kABPersonInstantMessageServiceICQ}, {"msn", plat::kABPersonInstantMessageServiceMSN},
      {"yahoo", plat::kABPersonInstantMessageServiceYahoo}, {"profile", plat::kABPersonHomePageLabel},
      {"fax", "fax"},                    {"Boat", "Boat"},
      {Value::null(), std::nullopt},     {3, std::nullopt},
  };
  for (const auto& c : toLabel)
    EXPECT_EQ(HBRContact::convertContactTypeToPropertyLabel(c.type), c.label) << c.type.description();

  const std::pair<std::optional<std::string>, std::optional<std::string>> toType[] = {
      {plat::kABPersonPhoneHomeFAXLabel, "fax"}, {plat::kABPersonPhoneWorkFAXLabel, "fax"},
      {plat::kABPersonInstantMessageServiceJabber, "other"}, {plat::kABPersonHomePageLabel, "profile"},
      {"Boat", "Boat"}, {std::nullopt, std::nullopt},
  };
  for (const auto& [label, type] : toType) EXPECT_EQ(HBRContact::convertPropertyLabelToContactType(label), type);

  EXPECT_TRUE(HBRContact::isValidW3ContactType("Mobile"));
  EXPECT_FALSE(HBRContact::isValidW3ContactType("fax"));
  EXPECT_FALSE(HBRContact::isValidW3ContactType("profile"));
  EXPECT_FALSE(HBRContact::isValidW3ContactType(Value::null()));
}

TEST_F(Contacts, ReturnFieldsComeFromTheRequestedNames) {
  struct Case {
    Value names;
    std::optional<Dictionary> fields;
  };
  const Case cases[] = {
      {Array{"name.givenName", "phoneNumbers"},
       Dictionary{{"name", Array{"givenName"}}, {"phoneNumbers", Array{"type", "value", "pref"}}}},
      {Array{"displayName"}, Dictionary{{"displayName", Value::null()}}},
      {Array{"name.nosuch"}, std::nullopt},
      {Array{"nosuch", Value::null(), Dictionary{}}, std::nullopt},
      {Array{"*"}, HBRContact::defaultFields()},
      {Array{"*", "note"}, Dictionary{{"note", Value::null()}}},  // "*" counts only alone
      {"*", std::nullopt},
      {Array{}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(HBRContact::calcReturnFields(c.names), c.fields) << c.names.description();
  EXPECT_TRUE(log_->contains("Contacts.find -- request for invalid property ignored: name.nosuch"));

  // displayName falls back from the composite name to the nickname to the empty text.
  HBRContact contact;
  auto fields = HBRContact::calcReturnFields(Array{"displayName", "phoneNumbers"});
  EXPECT_EQ(contact.toDictionary(fields)->get("displayName"), Value(""));
  contact.record()->setValue(plat::kABPersonNicknameProperty, std::string("Zo"));
  EXPECT_EQ(contact.toDictionary(fields)->get("displayName"), Value("Zo"));
  contact.record()->setValue(plat::kABPersonLastNameProperty, std::string("Müller"));
  auto dict = contact.toDictionary(fields);
  EXPECT_EQ(dict->get("displayName"), Value("Müller"));
  EXPECT_EQ(dict->get("phoneNumbers"), Value::null()) << "requested but absent";
  EXPECT_FALSE(contact.toDictionary(HBRContact::calcReturnFields(Array{"note"}))->contains("phoneNumbers"));
}

TEST_F(Contacts, SearchFindsByIdFoldedTextAndType) {
  saved(Dictionary{{"name", Dictionary{{"givenName", "Zoë"}, {"familyName", "Müller"}}},
                   {"phoneNumbers", Array{Dictionary{{"type", "mobile"}, {"value", "555-0101"}}}}});
  saved(Dictionary{{"name", Dictionary{{"givenName", "太郎"}, {"familyName", "山田"}}},
                   {"emails", Array{Dictionary{{"type", "work"}, {"value", "taro@example.jp"}}}},
                   {"addresses", Array{Dictionary{{"type", "home"}, {"locality", "Kyōto"}}}}});
  saved(Dictionary{{"nickname", "'; DROP TABLE people; --"}, {"note", "100% \"quoted\" _under_"}});

  struct Case {
    Array fields;
    const char* filter;
    std::vector<Value> ids;
  };
  const Case cases[] = {
      {Array{"name"}, "zoe", {1}},
      {Array{"name"}, "MÜLLER", {1}},
      {Array{"name.formatted"}, "ZOË", {1}},
      {Array{"name.formatted"}, "zoe", {}},  // the composite name folds case only
      {Array{"name"}, "太郎", {2}},
      {Array{"displayName"}, "2", {2}},  // an id matches whatever the fields
      {Array{"phoneNumbers"}, "0101", {1}},
      {Array{"phoneNumbers.type"}, "MOBILE", {1}},
      {Array{"emails"}, "work", {2}},
      {Array{"emails"}, "TARO@", {2}},
      {Array{"addresses"}, "kyoto", {2}},
      {Array{"addresses"}, "home", {}},  // address types are labels, not parts
      {Array{"nickname"}, "'; DROP TABLE people; --", {3}},
      {Array{"note"}, "100% \"QUOTED\"", {3}},
      {Array{"note"}, "%", {3}},
      {Array{"note"}, "_u", {3}},
      {Array{"nickname", "note"}, "nobody", {}},
      {Array{"*"}, "zo", {1}},
  };
  for (const auto& c : cases) {
    auto result = found(c.fields, Dictionary{{"filter", c.filter}, {"multiple", true}, {"desiredFields", Array{"id"}}});
    EXPECT_EQ(idsOf(result), c.ids) << c.filter << " in " << Value(c.fields).description();
  }
  EXPECT_EQ(found(Array{"*"}, Dictionary{{"filter", ""}, {"multiple", true}}).size(), 3u) << "the table is intact";
  EXPECT_EQ(idsOf(found(Array{"*"}, Dictionary{{"filter", ""}, {"multiple", false}})), std::vector<Value>{1});
  EXPECT_EQ(idsOf(found(Array{"name"}, Dictionary{{"filter", "u"}, {"multiple", false}})).size(), 1u);
  // Null options: one contact at most, with its id only.
  EXPECT_EQ(found(Array{"*"}, Value::null()), (Array{Dictionary{{"id", 1}}}));
}

TEST_F(Contacts, RefusedAccessFailsEveryActionInItsOwnForm) {
  struct Case {
    plat::ABAuthorizationStatus status;
    plat::SimulatedAddressBookAccess::Answer answer;
    int code;
  };
  using A = plat::SimulatedAddressBookAccess::Answer;
  const Case cases[] = {
      {plat::ABAuthorizationStatus::Denied, A::Grant, 20},
      {plat::ABAuthorizationStatus::Restricted, A::Grant, 20},
      {plat::ABAuthorizationStatus::NotDetermined, A::Deny, 20},
      {plat::ABAuthorizationStatus::NotDetermined, A::Fail, 0},
  };
  for (const auto& c : cases) {
    struct Action {
      const char* name;
      Array arguments;
      bool errorObject;
    };
    const Action actions[] = {
        {"newContact", {}, true},
        {"displayContact", {1}, true},
        {"search", {Array{"*"}, Value::null()}, true},
        {"save", {Dictionary{{"nickname", "x"}}}, false},
        {"remove", {1}, false},
    };
    for (const auto& a : actions) {
      plat::SimulatedAddressBookAccess::reset();
      plat::SimulatedAddressBookAccess::setAuthorizationStatus(c.status);
      plat::SimulatedAddressBookAccess::setAnswer(c.answer);
      auto answer = call(a.name, a.arguments);
      EXPECT_EQ(answer.status, 9) << a.name;
      EXPECT_EQ(answer.message, a.errorObject ? Value(Dictionary{{"code", c.code}}) : Value(c.code)) << a.name;
    }
  }
  EXPECT_TRUE(driver().screens().empty());
}

TEST_F(Contacts, AnAddressBookThatCannotBeOpenedAnswersCodeZero) {
  // Another home whose address-book folder is a plain file: no store can be made there.
  writeFile(inHome("other/Library/AddressBook"), "not a folder");
  plat::setHomeDirectory(inHome("other"));
  EXPECT_EQ(call("search", Array{Array{"*"}, Value::null()}).message, Value(Dictionary{{"code", 0}}));
  EXPECT_EQ(call("save", Array{Dictionary{{"nickname", "x"}}}).message, Value(0));
  EXPECT_EQ(call("remove", Array{1}).message, Value(0));
  plat::setHomeDirectory(home());
}

TEST_F(Contacts, PickContactAsksFirstAndShowsThePickerOnTheMainThread) {
  saved(Dictionary{{"nickname", "Zo"}, {"note", "n"}});
  for (auto answer : {plat::SimulatedAddressBookAccess::Answer::Grant, plat::SimulatedAddressBookAccess::Answer::Deny}) {
    plat::SimulatedAddressBookAccess::reset();
    plat::SimulatedAddressBookAccess::setAnswer(answer);
    exec("Contacts", "pickContact", Array{});
    if (answer == plat::SimulatedAddressBookAccess::Answer::Deny) {
      EXPECT_EQ(next().message, Value(20));
      continue;
    }
    ASSERT_TRUE(screenOnTop("Contacts"));
    EXPECT_EQ(plat::SimulatedAddressBookAccess::promptCount(), 1u);
    ASSERT_TRUE(driver().selectRow(1));
    auto picked = next();
    EXPECT_EQ(picked.status, 1);
    EXPECT_EQ(picked.message["nickname"], Value("Zo"));
    EXPECT_EQ(picked.message["note"], Value("n"));
    EXPECT_TRUE(picked.message.asDictionary().contains("phoneNumbers")) << "all default fields";
    EXPECT_TRUE(turnUntil([&] { return driver().screens().empty(); })) << "the picker closes";
  }
  plat::SimulatedAddressBookAccess::setAuthorizationStatus(plat::ABAuthorizationStatus::Denied);
  EXPECT_EQ(call("pickContact", Array{Array{"name"}}).message, Value(20));
}

TEST_F(Contacts, ThePickerCancelledOrEditedAnswersOnce) {
  saved(Dictionary{{"nickname", "Zo"}});
  // Cancelled without a choice, with or without editing.
  for (const Value& options : {Value::null(), Value(Dictionary{{"allowsEditing", true}})}) {
    exec("Contacts", "chooseContact", Array{options});
    ASSERT_TRUE(screenOnTop("Contacts"));
    ASSERT_TRUE(driver().tapScreenButton("Cancel"));
    auto answer = next();
    EXPECT_EQ(answer.status, 9);
    EXPECT_EQ(answer.message, Value(6));
    ASSERT_TRUE(turnUntil([&] { return driver().screens().empty(); }));
  }
  // With editing: nothing until the picker closes, then the contact as edited.
  exec("Contacts", "chooseContact",
       Array{Dictionary{{"allowsEditing", true}, {"fields", Array{"nickname", "name.givenName"}}}});
  ASSERT_TRUE(screenOnTop("Contacts"));
  ASSERT_TRUE(driver().selectRow(1));
  ASSERT_TRUE(screenOnTop("Info"));
  ASSERT_TRUE(driver().setFieldText("First", "Zoë"));
  ASSERT_TRUE(driver().tapScreenButton("Done"));
  ASSERT_TRUE(driver().tapScreenButton("Back"));
  runUntilIdle();
  EXPECT_TRUE(takeCallbacks().empty());
  ASSERT_TRUE(driver().tapScreenButton("Cancel"));
  auto answer = next();
  EXPECT_EQ(answer.status, 1);
  EXPECT_EQ(answer.message, Value(Dictionary{{"id", 1}, {"nickname", "Zo"}, {"name", Dictionary{{"givenName", "Zoë"}}}}));
  EXPECT_TRUE(turnUntil([&] { return driver().screens().empty(); }));
}

TEST_F(Contacts, DisplayContactShowsThePersonAndEditsOnlyWhenAsked) {
  saved(Dictionary{{"nickname", "Zo"}});
  struct Case {
    Value options;
    std::vector<std::string> screens;  // bottom first
  };
  const Case cases[] = {
      {Value::null(), {"Info"}},
      {Dictionary{{"allowsEditing", "TRUE"}}, {"Info", "Info"}},
      {Dictionary{{"allowsEditing", "yes"}}, {"Info"}},
      {Dictionary{{"allowsEditing", true}}, {"Info", "Info"}},
      {Dictionary{{"allowsEditing", false}}, {"Info"}},
  };
  for (const auto& c : cases) {
    exec("Contacts", "displayContact", Array{1, c.options});
    ASSERT_TRUE(turnUntil([&] { return driver().screens().size() == c.screens.size(); })) << c.options.description();
    runUntilIdle();
    EXPECT_EQ(driver().screens().size(), c.screens.size());
    const bool editing = c.screens.size() == 2;
    EXPECT_EQ(driver().topScreen()->fieldNames().empty(), !editing);
    EXPECT_TRUE(takeCallbacks().empty()) << "nothing is sent on success";
    // Going back from the read-only screen closes the whole navigation.
    if (editing) {
      ASSERT_TRUE(driver().tapScreenButton("Back"));
    }
    ASSERT_TRUE(driver().tapScreenButton("Back"));
    EXPECT_TRUE(turnUntil([&] { return driver().screens().empty() && !root->presentedViewController(); }));
  }
  auto missing = call("displayContact", Array{42});
  EXPECT_EQ(missing.status, 9);
  EXPECT_EQ(missing.message, Value(0));
}

TEST_F(Contacts, NewContactAnswersTheNewIdOrMinusOne) {
  exec("Contacts", "newContact", Array{});
  ASSERT_TRUE(screenOnTop("New Contact"));
  ASSERT_TRUE(driver().tapScreenButton("Cancel"));
  auto cancelled = next();
  EXPECT_EQ(cancelled.status, 1);
  EXPECT_EQ(cancelled.message, Value(-1));
  ASSERT_TRUE(turnUntil([&] { return driver().screens().empty() && !root->presentedViewController(); }));

  exec("Contacts", "newContact", Array{});
  ASSERT_TRUE(screenOnTop("New Contact"));
  ASSERT_TRUE(driver().setFieldText("Last", "Lovelace"));
  ASSERT_TRUE(driver().tapScreenButton("Done"));
  auto made = next();
  EXPECT_EQ(made.message, Value(1));
  EXPECT_EQ(idsOf(found(Array{"name"}, Dictionary{{"filter", "lovelace"}})), std::vector<Value>{1});
}

TEST_F(Contacts, RemoveAndSaveRefuseWhatTheyCannotDo) {
  saved(Dictionary{{"nickname", "Zo"}});
  struct Case {
    Value id;
    int status;
    Value message;
  };
  const Case cases[] = {
      {-1, 9, 1}, {"-1", 9, 1}, {Value::null(), 9, 1}, {Array{}, 9, 1}, {42, 9, 0}, {"1", 1, Value::null()}, {1, 9, 0},
  };
  for (const auto& c : cases) {
    auto answer = call("remove", Array{c.id});
    EXPECT_EQ(answer.status, c.status) << c.id.description();
    EXPECT_EQ(answer.message, c.message) << c.id.description();
  }
  EXPECT_TRUE(found(Array{"*"}, Dictionary{{"filter", ""}, {"multiple", true}}).empty());

  auto notADictionary = call("save", Array{"contact"});
  EXPECT_EQ(notADictionary.status, 9);
  EXPECT_EQ(notADictionary.message, Value(4));
  // A removed id is not brought back by a save naming it: the contact is new.
  EXPECT_EQ(saved(Dictionary{{"id", 1}, {"nickname", "again"}}).get("id"), Value(2));
}

// In a book of many contacts an update or a remove reads the one contact it changes, and a
// search after them reads nothing again, yet finds the book as it now is.
TEST_F(Contacts, InALargeBookAnUpdateOrARemoveReadsOnlyItsContact) {
  constexpr int kPeople = 300;
  {
    auto book = plat::ABAddressBookCreateWithOptions();
    for (int i = 1; i <= kPeople; ++i) {
      auto person = plat::ABPersonCreate();
      person->setValue(plat::kABPersonFirstNameProperty, "Given" + std::to_string(i));
      book->addRecord(person);
    }
    ASSERT_TRUE(book->save());
  }
  const Value everyone = Dictionary{{"filter", ""}, {"multiple", true}, {"desiredFields", Array{"name"}}};
  ASSERT_EQ(found(Array{"name"}, everyone).size(), static_cast<std::size_t>(kPeople));

  struct Case {
    const char* what;
    std::string action;
    Array arguments;
  };
  const Case cases[] = {
      {"update", "save", Array{Dictionary{{"id", 10}, {"name", Dictionary{{"givenName", "Changed"}}}}}},
      {"remove", "remove", Array{11}},
  };
  for (const Case& c : cases) {
    std::uint64_t before = plat::ABAddressBookStoredRowsRead();
    auto answer = call(c.action, c.arguments);
    EXPECT_EQ(answer.status, 1) << c.what << ": " << answer.message.description();
    EXPECT_LE(plat::ABAddressBookStoredRowsRead() - before, 1u) << c.what;
  }
  std::uint64_t before = plat::ABAddressBookStoredRowsRead();
  auto people = found(Array{"name"}, everyone);
  EXPECT_EQ(plat::ABAddressBookStoredRowsRead() - before, 0u);
  ASSERT_EQ(people.size(), static_cast<std::size_t>(kPeople - 1));
  EXPECT_EQ(people[9]["name"]["givenName"], Value("Changed"));
  EXPECT_EQ(people[10]["id"], Value(12)) << "11 is gone";
}

TEST_F(Contacts, ABirthdayThatIsNoDateFailsTheSaveAndKeepsTheStoredContact) {
  // As a WKWebView page sends them (the page module refuses them itself; a page may call the
  // bridge directly). NaN and the infinities reach the plugin as null, as WebKit delivers them and
  // as JSON would: no birthday given, so the save goes through and a stored birthday stays. A
  // number past a page Date's reach arrives as itself and fails the save.
  auto first = saved(richContact(""));
  const Value id = first.get("id");
  const double kMax = 8.64e15;  // a page Date's furthest reach, in milliseconds
  struct Case {
    double birthday;
    bool refused;
  };
  const Case cases[] = {{std::nan(""), false}, {INFINITY, false}, {-INFINITY, false},
                        {1e300, true},         {-1e300, true},    {kMax * 2, true}};
  int added = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.birthday);
    auto update = message("save", Array{Dictionary{{"id", id}, {"nickname", "changed"}, {"birthday", c.birthday}}});
    auto fresh = message("save", Array{Dictionary{{"nickname", "new"}, {"birthday", c.birthday}}});
    if (c.refused) {
      EXPECT_EQ(update.status, 9);
      EXPECT_EQ(update.message, Value(4));
      EXPECT_EQ(fresh.status, 9);
      EXPECT_EQ(fresh.message, Value(4));
      continue;
    }
    ++added;
    EXPECT_EQ(update.status, 1) << update.message.description();
    EXPECT_EQ(update.message["birthday"].asDouble(), 482198400000.0) << "the stored birthday stays";
    EXPECT_EQ(fresh.status, 1) << fresh.message.description();
    EXPECT_TRUE(fresh.message["birthday"].isNil()) << fresh.message.description();
    // Back as it was, for the next case.
    EXPECT_EQ(message("save", Array{Dictionary{{"id", id}, {"nickname", "Zo"}}}).status, 1);
  }
  Array all = found(Array{"*"}, Dictionary{{"filter", ""}, {"multiple", true}});
  ASSERT_EQ(all.size(), static_cast<std::size_t>(1 + added)) << "a refused new contact was stored";
  EXPECT_EQ(all.at(0)["nickname"], Value("Zo"));
  EXPECT_EQ(all.at(0)["name"]["givenName"], Value("Zoë"));
  EXPECT_EQ(all.at(0)["birthday"].asDouble(), 482198400000.0);

  // The edges of a page Date are dates, and a search through their text works.
  EXPECT_EQ(saved(Dictionary{{"id", id}, {"birthday", -kMax}}).get("birthday").asDouble(), -kMax);
  EXPECT_EQ(found(Array{"birthday"}, Dictionary{{"filter", "-271821-04-20"}}).size(), 1u);
  EXPECT_EQ(saved(Dictionary{{"id", id}, {"birthday", kMax}}).get("birthday").asDouble(), kMax);
  EXPECT_EQ(found(Array{"birthday"}, Dictionary{{"filter", "275760-09-13"}}).size(), 1u);

  // A date out of that range stored by other means is no match, and no overflow.
  {
    auto book = plat::ABAddressBookCreateWithOptions();
    ASSERT_TRUE(book);
    auto person = book->getPersonWithRecordID(static_cast<plat::ABRecordID>(id.asInt()));
    ASSERT_TRUE(person);
    ASSERT_TRUE(person->setValue(plat::kABPersonBirthdayProperty, plat::ABDate{1e297}));
    ASSERT_TRUE(book->save());
  }
  EXPECT_TRUE(found(Array{"birthday"}, Dictionary{{"filter", "+0000"}}).empty());
}

TEST_F(Contacts, PhotosAreReadOnlyFromTheApplicationsFoldersOrTheNetworkWithinBounds) {
  harbor::testing::LoopbackServer server;
  ASSERT_TRUE(server.ok());
  harbor::testing::LoopbackServer::Response small, huge;
  small.contentType = huge.contentType = "image/jpeg";
  small.body = "remote photo";
  huge.body = std::string(kHBRContactPhotoMaxBytes + 1, 'x');
  server.route("/small.jpg", small);
  server.route("/huge.jpg", huge);
  struct Case {
    std::string url;
    std::optional<std::string> photo;
    const char* logged;
  };
  const Case cases[] = {
      {server.url("/small.jpg"), "remote photo", nullptr},
      {server.url("/huge.jpg"), std::nullopt, "error setting contact image: the photo is larger than"},
      {"file:///etc/passwd", std::nullopt, "error setting contact image: the photo /etc/passwd is outside"},
      {"file://" + inHome("Documents/../../outside"), std::nullopt, "is outside the application's folders"},
      {"no url at all", std::nullopt, "error setting contact image: no URL"},
  };
  for (const auto& c : cases) {
    log_->clear();
    auto stored = saved(Dictionary{{"nickname", "p"}, {"photos", Array{Dictionary{{"value", c.url}}}}});
    if (c.photo) {
      EXPECT_EQ(readFile(stored.get("photos").at(0)["value"].stringOr()), *c.photo);
    } else {
      EXPECT_EQ(stored.get("photos"), Value::null()) << c.url;
      EXPECT_TRUE(log_->contains(c.logged)) << c.url;
    }
  }
}
