#pragma once
// Obtains an address book for one action, asking the user for access when that was never
// decided.
#include <functional>
#include <memory>

#include "HBRAddressBookAccessError.h"
#include "plat/addressbook/ABAddressBook.h"

namespace harbor {

class HBRAddressBookHelper {
 public:
  // The book (or null) and why there is none (code 0 with a book).
  using Completion =
      std::function<void(const plat::ABAddressBookRef& book, const std::shared_ptr<HBRAddressBookAccessError>& error)>;

  // Any thread. The completion runs exactly once, on the main thread; the calling thread, when it
  // is not the main one, does not wait for it.
  static void createAddressBook(Completion completion);
};

}  // namespace harbor
