#include "HBRAddressBookHelper.h"

#include "plat/dispatch/Queues.h"

namespace harbor {

void HBRAddressBookHelper::createAddressBook(Completion completion) {
  plat::NSError error;
  auto book = plat::ABAddressBookCreateWithOptions(&error);
  if (!book) {
    // No book at all (refused, or a store that cannot be opened): there is nothing to ask for
    // access to, and the action still gets its answer.
    auto status = plat::ABAddressBookGetAuthorizationStatus();
    bool refused = status == plat::ABAuthorizationStatus::Denied || status == plat::ABAuthorizationStatus::Restricted;
    auto accessError = HBRAddressBookAccessError::initWithCode(refused ? 20 : 0);
    plat::dispatch::mainSync([&] { completion(nullptr, accessError); });
    return;
  }
  plat::ABAddressBookRequestAccessWithCompletion(
      book, [book, completion = std::move(completion)](bool granted, const std::optional<plat::NSError>& failure) {
        // mainSync runs at once when the answer is already on the main thread.
        plat::dispatch::mainSync([&] {
          if (failure)
            completion(nullptr, HBRAddressBookAccessError::initWithCode(0));
          else if (granted)
            completion(book, HBRAddressBookAccessError::initWithCode(0));
          else
            completion(nullptr, HBRAddressBookAccessError::initWithCode(20));
        });
      });
}

}  // namespace harbor
