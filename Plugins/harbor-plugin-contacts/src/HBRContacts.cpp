#include "HBRContacts.h"

#include <cstdlib>

#include "HBRAddressBookHelper.h"
#include "HBRContactPhotoLoader.h"
#include "HBRContactsPicker.h"
#include "HBRDisplayContactViewController.h"
#include "HBRNewContactsController.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UINavigationController.h"

namespace harbor {

using plat::Array;
using plat::Dictionary;
using plat::Value;

namespace {

// A record id as the page may give it: a number or a text holding one (its integer value).
std::optional<long long> integerValueOf(const Value& value) {
  if (value.isNumber() && !value.isBool()) return value.asInt();
  if (value.isString()) return std::strtoll(value.asString().c_str(), nullptr, 10);
  return std::nullopt;
}

// The person of that id, when the id can be one.
plat::ABRecordRef personWithID(const plat::ABAddressBookRef& book, long long id) {
  if (id < 1 || id > INT32_MAX) return nullptr;
  return book->getPersonWithRecordID(static_cast<plat::ABRecordID>(id));
}

void dismissFromPresenter(plat::UIViewController& presented) {
  if (auto presenter = presented.presentingViewController()) presenter->dismissViewControllerAnimated(true, nullptr);
}

std::uint64_t codeOf(const std::shared_ptr<HBRAddressBookAccessError>& error) {
  return error ? error->errorCode() : kHBRContactUnknownError;
}

}  // namespace

HBRContacts::HBRContacts() {
  registerAction("newContact", &HBRContacts::newContact);
  registerAction("displayContact", &HBRContacts::displayContact);
  registerAction("chooseContact", &HBRContacts::chooseContact);
  registerAction("pickContact", &HBRContacts::pickContact);
  registerAction("search", &HBRContacts::search);
  registerAction("save", &HBRContacts::save);
  registerAction("remove", &HBRContacts::remove);
}

void HBRContacts::sendResult(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId) {
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

void HBRContacts::sendErrorObject(const std::optional<std::string>& callbackId, int code) {
  sendResult(HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus::Error, code), callbackId);
}

void HBRContacts::sendBareCode(const std::optional<std::string>& callbackId, int code) {
  sendResult(HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::Error, code), callbackId);
}

bool HBRContacts::present(const std::shared_ptr<plat::UIViewController>& controller) {
  auto presenter = viewController();
  if (!presenter) {
    plat::NSLog("HBRContacts: no view controller to show the address book screen on");
    return false;
  }
  return presenter->presentViewController(controller, true, nullptr);
}

void HBRContacts::withAddressBook(const std::optional<std::string>& callbackId, bool errorObject,
                                  std::function<void(HBRContacts& self, const plat::ABAddressBookRef& book)> body) {
  auto weak = weakSelf<HBRContacts>();
  HBRAddressBookHelper::createAddressBook(
      [weak, callbackId, errorObject, body = std::move(body)](
          const plat::ABAddressBookRef& book, const std::shared_ptr<HBRAddressBookAccessError>& error) {
        auto self = weak.lock();
        if (!self) return;  // the plugin is gone: nobody to answer
        if (book) {
          body(*self, book);
          return;
        }
        int code = static_cast<int>(codeOf(error));
        if (errorObject)
          self->sendErrorObject(callbackId, code);
        else
          self->sendBareCode(callbackId, code);
      });
}

bool HBRContacts::existsValue(const Dictionary& dict, const std::string& val, const std::string& key) {
  const Value& value = dict.get(key);
  return value.isString() && plat::equalsIgnoringCaseASCII(value.asString(), val);
}

// --- newContact ---

void HBRContacts::newContact(const HBRInvokedUrlCommandPtr& command) {
  auto callbackId = command->callbackId();
  withAddressBook(callbackId, true, [callbackId](HBRContacts& self, const plat::ABAddressBookRef& book) {
    auto screen = std::make_shared<HBRNewContactsController>();
    screen->setAddressBook(book);
    screen->setNewPersonViewDelegate(std::static_pointer_cast<plat::ABNewPersonViewControllerDelegate>(
        self.self<HBRContacts>()));
    screen->setCallbackId(callbackId);
    auto navigation = std::make_shared<plat::UINavigationController>();
    navigation->initWithRootViewController(screen);
    self.present(navigation);
  });
}

void HBRContacts::newPersonViewControllerDidCompleteWithNewPerson(plat::ABNewPersonViewController& controller,
                                                                   const plat::ABRecordRef& person) {
  auto* screen = dynamic_cast<HBRNewContactsController*>(&controller);
  auto navigation = controller.navigationController();
  dismissFromPresenter(navigation ? *navigation : controller);
  if (!screen) return;
  std::int64_t id = person ? person->recordID() : -1;
  sendResult(HBRPluginResult::resultWithStatusMessageAsNSInteger(HBRCommandStatus::OK, id), screen->callbackId());
}

// --- displayContact ---

void HBRContacts::displayContact(const HBRInvokedUrlCommandPtr& command) {
  auto callbackId = command->callbackId();
  auto id = integerValueOf(command->argumentAtIndex(0)).value_or(0);
  const Value& options = command->argumentAtIndex(1);
  bool editing = false;
  if (options.isDictionary()) {
    // A boolean true asks for editing as plainly as the text "true" does.
    const Value& allows = options["allowsEditing"];
    editing = existsValue(options.asDictionary(), "true", "allowsEditing") || (allows.isBool() && allows.asBool());
  }
  withAddressBook(callbackId, true, [callbackId, id, editing](HBRContacts& self, const plat::ABAddressBookRef& book) {
    auto person = personWithID(book, id);
    if (!person) {
      self.sendBareCode(callbackId, kHBRContactUnknownError);
      return;
    }
    auto delegate = std::static_pointer_cast<plat::ABPersonViewControllerDelegate>(self.self<HBRContacts>());
    auto screen = std::make_shared<HBRDisplayContactViewController>();
    screen->setDisplayedPerson(person);
    screen->setAddressBook(book);
    screen->setPersonViewDelegate(delegate);
    screen->setAllowsEditing(false);
    // A plain root under the person screen gives it a back button.
    auto navigation = std::make_shared<plat::UINavigationController>();
    navigation->initWithRootViewController(std::make_shared<plat::UIViewController>());
    navigation->pushViewController(screen, true);
    self.present(navigation);
    if (editing) {
      auto editor = std::make_shared<plat::ABPersonViewController>();
      editor->setDisplayedPerson(person);
      editor->setAddressBook(book);
      editor->setPersonViewDelegate(delegate);
      editor->setAllowsEditing(true);
      navigation->pushViewController(editor, true);
    }
  });
}

bool HBRContacts::personViewControllerShouldPerformDefaultActionForPersonPropertyIdentifier(
    plat::ABPersonViewController&, const plat::ABRecordRef&, plat::ABPropertyID, plat::ABMultiValueIdentifier) {
  return true;
}

// --- chooseContact and pickContact ---

void HBRContacts::chooseContact(const HBRInvokedUrlCommandPtr& command) {
  const Value& given = command->argumentAtIndex(0);
  Dictionary options = given.isDictionary() ? given.asDictionary() : Dictionary{};
  auto picker = std::make_shared<HBRContactsPicker>();
  picker->setPeoplePickerDelegate(
      std::static_pointer_cast<plat::ABPeoplePickerNavigationControllerDelegate>(self<HBRContacts>()));
  picker->setCallbackId(command->callbackId());
  const Value& allows = options.get("allowsEditing");
  picker->setAllowsEditing(allows.isNumber() && allows.asBool());
  picker->setOptions(std::move(options));
  picker->setPickedContactDictionary(Dictionary{{"id", -1}});
  present(picker);
}

void HBRContacts::peoplePickerNavigationControllerDidSelectPerson(plat::ABPeoplePickerNavigationController& picker,
                                                                  const plat::ABRecordRef& person) {
  auto* pick = dynamic_cast<HBRContactsPicker*>(&picker);
  if (!pick || !person) return;
  if (pick->allowsEditing()) {
    auto editor = std::make_shared<plat::ABPersonViewController>();
    editor->setDisplayedPerson(person);
    editor->setAddressBook(pick->addressBook());
    editor->setPersonViewDelegate(std::static_pointer_cast<plat::ABPersonViewControllerDelegate>(self<HBRContacts>()));
    editor->setAllowsEditing(true);
    pick->setPickedContactDictionary(Dictionary{{"id", person->recordID()}});
    pick->pushViewController(editor, true);
    return;
  }
  HBRContact contact(person);
  auto dict = contact.toDictionary(HBRContact::calcReturnFields(pick->options().get("fields")));
  pick->setPickedContactDictionary(dict.value_or(Dictionary{{"id", person->recordID()}}));
  sendResult(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, pick->pickedContactDictionary()),
             pick->callbackId());
  dismissFromPresenter(picker);
}

bool HBRContacts::peoplePickerNavigationControllerShouldContinueAfterSelectingPerson(
    plat::ABPeoplePickerNavigationController& picker, const plat::ABRecordRef& person) {
  peoplePickerNavigationControllerDidSelectPerson(picker, person);
  return false;
}

void HBRContacts::peoplePickerNavigationControllerDidCancel(plat::ABPeoplePickerNavigationController& picker) {
  auto* pick = dynamic_cast<HBRContactsPicker*>(&picker);
  if (!pick) {
    dismissFromPresenter(picker);
    return;
  }
  if (pick->allowsEditing()) {
    // Read the person again: the user may have changed it in the person screen.
    if (auto book = plat::ABAddressBookCreateWithOptions()) {
      auto id = integerValueOf(pick->pickedContactDictionary().get("id")).value_or(-1);
      if (auto person = personWithID(book, id)) {
        HBRContact contact(person);
        if (auto dict = contact.toDictionary(HBRContact::calcReturnFields(pick->options().get("fields"))))
          pick->setPickedContactDictionary(*dict);
      }
    }
  }
  if (pick->pickedContactDictionary().get("id") == Value(-1))
    sendBareCode(pick->callbackId(), kHBRContactOperationCancelledError);
  else
    sendResult(
        HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, pick->pickedContactDictionary()),
        pick->callbackId());
  dismissFromPresenter(picker);
}

void HBRContacts::pickContact(const HBRInvokedUrlCommandPtr& command) {
  Value fields = command->argumentAtIndex(0, Array{});
  if (!fields.isArray() || fields.asArray().empty()) fields = Array{"*"};
  Dictionary options{{"fields", fields}, {"allowsEditing", false}};
  auto choose = std::make_shared<HBRInvokedUrlCommand>(Array{Value(options)}, command->callbackId(),
                                                       command->className(), command->methodName());
  switch (plat::ABAddressBookGetAuthorizationStatus()) {
    case plat::ABAuthorizationStatus::Authorized:
      chooseContact(choose);
      break;
    case plat::ABAuthorizationStatus::Restricted:
    case plat::ABAuthorizationStatus::Denied:
      sendBareCode(command->callbackId(), kHBRContactPermissionDeniedError);
      break;
    case plat::ABAuthorizationStatus::NotDetermined: {
      auto weak = weakSelf<HBRContacts>();
      plat::ABAddressBookRequestAccessWithCompletion(
          plat::ABAddressBookCreateWithOptions(), [weak, choose](bool granted, const std::optional<plat::NSError>&) {
            // The answer comes on the platform's thread; the picker is shown on the main one.
            plat::dispatch::mainAsync([weak, choose, granted] {
              auto self = weak.lock();
              if (!self) return;
              if (granted)
                self->chooseContact(choose);
              else
                self->sendBareCode(choose->callbackId(), kHBRContactPermissionDeniedError);
            });
          });
      break;
    }
  }
}

// --- search, save, remove ---

void HBRContacts::search(const HBRInvokedUrlCommandPtr& command) {
  Value fields = command->argumentAtIndex(0);
  Value options = command->argumentAtIndex(1, Value::null());
  auto callbackId = command->callbackId();
  auto weak = weakSelf<HBRContacts>();
  auto delegate = commandDelegate();
  if (!delegate) return;
  delegate->runInBackground([weak, fields, options, callbackId] {
    auto plugin = weak.lock();
    if (!plugin) return;
    plugin->withAddressBook(callbackId, true, [fields, options, callbackId](HBRContacts& self,
                                                                            const plat::ABAddressBookRef& book) {
      std::string filter;
      bool multiple = false;
      Value wanted;
      if (options.isDictionary()) {
        filter = options["filter"].stringOr("");
        multiple = options["multiple"].isNumber() && options["multiple"].asBool();
        wanted = options["desiredFields"];
        if (!wanted.isArray() || wanted.asArray().empty()) wanted = Array{"*"};
      }
      auto searchFields = HBRContact::calcReturnFields(fields);
      auto returnFields = HBRContact::calcReturnFields(wanted);

      std::vector<std::shared_ptr<HBRContact>> matches;
      auto people = book->copyArrayOfAllPeople();
      if (!filter.empty()) {
        for (const auto& person : people) {
          auto contact = HBRContact::initFromABRecord(person);
          if (contact->foundValue(Value(filter), searchFields)) {
            matches.push_back(std::move(contact));
            if (!multiple) break;  // only the first is returned
          }
        }
      } else if (!people.empty()) {
        std::size_t count = multiple ? people.size() : 1;
        for (std::size_t i = 0; i < count; ++i) matches.push_back(HBRContact::initFromABRecord(people[i]));
      }
      Array result;
      result.reserve(matches.size());
      for (const auto& contact : matches)
        if (auto dict = contact->toDictionary(returnFields)) result.emplace_back(std::move(*dict));
      self.sendResult(HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, std::move(result)),
                       callbackId);
    });
  });
}

void HBRContacts::save(const HBRInvokedUrlCommandPtr& command) {
  Value contactDict = command->argumentAtIndex(0);
  auto callbackId = command->callbackId();
  auto weak = weakSelf<HBRContacts>();
  auto delegate = commandDelegate();
  if (!delegate) return;
  delegate->runInBackground([weak, contactDict, callbackId] {
    // A remote photo is read here, off the main thread, with a time and size bound.
    std::optional<plat::Result<plat::Data>> photo;
    if (contactDict.isDictionary())
      if (auto url = HBRContact::photoURLOf(contactDict)) photo = readContactPhoto(*url);

    auto plugin = weak.lock();
    if (!plugin) return;
    plugin->withAddressBook(callbackId, false, [contactDict, callbackId, photo](HBRContacts& self,
                                                                                const plat::ABAddressBookRef& book) {
      if (!contactDict.isDictionary()) {
        self.sendBareCode(callbackId, kHBRContactIOError);
        return;
      }
      plat::ABRecordRef existing;
      const Value& id = contactDict["id"];
      if (!id.isNil())
        if (auto number = integerValueOf(id)) existing = personWithID(book, *number);
      const bool isUpdate = existing != nullptr;
      auto contact = isUpdate ? HBRContact::initFromABRecord(existing) : std::make_shared<HBRContact>();
      if (photo) contact->setPhotoReader([photo](const std::string&) { return *photo; });

      bool stored = contact->setFromContactDict(contactDict, isUpdate);
      if (stored && !isUpdate) stored = book->addRecord(contact->record());
      plat::NSError saveError;
      if (stored && !book->save(&saveError)) {
        plat::NSLog("HBRContacts: the contact could not be stored: " + saveError.description());
        stored = false;
      }
      if (!stored) {
        self.sendBareCode(callbackId, kHBRContactIOError);
        return;
      }
      auto dict = contact->toDictionary(HBRContact::defaultFields());
      self.sendResult(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK,
                                                                            dict.value_or(Dictionary{})),
                       callbackId);
    });
  });
}

void HBRContacts::remove(const HBRInvokedUrlCommandPtr& command) {
  Value id = command->argumentAtIndex(0);
  auto callbackId = command->callbackId();
  withAddressBook(callbackId, false, [id, callbackId](HBRContacts& self, const plat::ABAddressBookRef& book) {
    auto number = integerValueOf(id);
    if (!number || *number == -1) {
      self.sendBareCode(callbackId, kHBRContactInvalidArgumentError);
      return;
    }
    auto person = personWithID(book, *number);
    if (!person) {
      self.sendBareCode(callbackId, kHBRContactUnknownError);
      return;
    }
    plat::NSError removeError;
    if (!book->removeRecord(person, &removeError) || !book->save(&removeError)) {
      plat::NSLog("HBRContacts: the contact could not be removed: " + removeError.description());
      self.sendBareCode(callbackId, kHBRContactIOError);
      return;
    }
    self.sendResult(HBRPluginResult::resultWithStatus(HBRCommandStatus::OK), callbackId);
  });
}

}  // namespace harbor
