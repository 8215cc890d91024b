#include "plat/addressbookui/ABNewPersonViewController.h"

#include "plat/addressbookui/ABPersonViewController.h"
#include "plat/foundation/Log.h"

namespace plat {

ABNewPersonViewController::ABNewPersonViewController() : person_(ABPersonCreate()) {}

void ABNewPersonViewController::viewDidAppear(bool animated) {
  UIDriver::shared().screenDidAppear(std::dynamic_pointer_cast<UIDrivenScreen>(self<UIViewController>()));
}

void ABNewPersonViewController::viewDidDisappear(bool animated) { UIDriver::shared().screenDidDisappear(this); }

bool ABNewPersonViewController::tapButton(const std::string& title) {
  if (completed_ || (title != "Cancel" && title != "Done")) return false;
  ABRecordRef stored;
  if (title == "Done") {
    if (!book_) book_ = ABAddressBookCreateWithOptions();
    NSError error;
    if (book_ && book_->addRecord(person_, &error) && book_->save(&error)) {
      stored = person_;
    } else {
      NSLog("ABNewPersonViewController: the new person could not be stored: " + error.description());
      if (book_) book_->revert();
    }
  }
  completed_ = true;
  // Keep the screen alive through the delegate's answer, which usually dismisses it.
  auto keep = self<UIViewController>();
  if (auto delegate = delegate_.lock()) delegate->newPersonViewControllerDidCompleteWithNewPerson(*this, stored);
  return true;
}

std::vector<std::string> ABNewPersonViewController::fieldNames() const { return personFieldNames(); }

bool ABNewPersonViewController::setFieldText(const std::string& field, const std::string& text) {
  return !completed_ && setPersonField(*person_, field, text);
}

}  // namespace plat
