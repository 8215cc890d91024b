#include "plat/addressbookui/ABPersonViewController.h"

#include <memory>

#include "plat/foundation/Log.h"
#include "plat/uikit/UINavigationController.h"

namespace plat {

const std::vector<std::string>& personFieldNames() {
  static const std::vector<std::string> names{"First", "Last",         "Middle", "Nickname",
                                              "Organization", "Note", "Phone",  "Email"};
  return names;
}

bool setPersonField(ABRecord& person, const std::string& field, const std::string& text) {
  static const std::pair<const char*, ABPropertyID> texts[] = {
      {"First", kABPersonFirstNameProperty},   {"Last", kABPersonLastNameProperty},
      {"Middle", kABPersonMiddleNameProperty}, {"Nickname", kABPersonNicknameProperty},
      {"Organization", kABPersonOrganizationProperty}, {"Note", kABPersonNoteProperty}};
  for (const auto& [name, property] : texts)
    if (field == name) return text.empty() ? person.removeValue(property) : person.setValue(property, text);
  ABPropertyID property;
  const char* label;
  if (field == "Phone") {
    property = kABPersonPhoneProperty;
    label = kABPersonPhoneMobileLabel;
  } else if (field == "Email") {
    property = kABPersonEmailProperty;
    label = kABHomeLabel;
  } else {
    return false;
  }
  auto stored = person.copyValue(property);
  ABMultiValue values = stored ? std::get<ABMultiValue>(*stored) : ABMultiValue(ABPropertyType::MultiString);
  return values.addValueAndLabel(text, label) && person.setValue(property, values);
}

void ABPersonViewController::viewDidAppear(bool animated) {
  UIDriver::shared().screenDidAppear(std::dynamic_pointer_cast<UIDrivenScreen>(self<UIViewController>()));
}

void ABPersonViewController::viewDidDisappear(bool animated) { UIDriver::shared().screenDidDisappear(this); }

bool ABPersonViewController::tapValue(ABPropertyID property, ABMultiValueIdentifier identifier) {
  auto delegate = delegate_.lock();
  return delegate &&
         delegate->personViewControllerShouldPerformDefaultActionForPersonPropertyIdentifier(*this, person_, property,
                                                                                            identifier);
}

std::vector<std::string> ABPersonViewController::buttonTitles() const {
  std::vector<std::string> titles;
  auto nav = std::dynamic_pointer_cast<UINavigationController>(navigationController());
  if (nav && nav->viewControllers().size() > 1 && nav->viewControllers().front().get() != this) titles.push_back("Back");
  if (allowsEditing_) titles.push_back("Done");
  return titles;
}

bool ABPersonViewController::tapButton(const std::string& title) {
  auto titles = buttonTitles();
  if (std::find(titles.begin(), titles.end(), title) == titles.end()) return false;
  if (title == "Back") {
    auto nav = std::dynamic_pointer_cast<UINavigationController>(navigationController());
    return nav && nav->popViewControllerAnimated(true);
  }
  // "Done": store what the user changed.
  if (!person_) return false;
  NSError error;
  if (!book_ || !book_->save(&error)) {
    NSLog("ABPersonViewController: the person could not be stored: " + error.description());
    return false;
  }
  return true;
}

std::vector<std::string> ABPersonViewController::fieldNames() const {
  return allowsEditing_ ? personFieldNames() : std::vector<std::string>{};
}

bool ABPersonViewController::setFieldText(const std::string& field, const std::string& text) {
  return allowsEditing_ && person_ && setPersonField(*person_, field, text);
}

}  // namespace plat
