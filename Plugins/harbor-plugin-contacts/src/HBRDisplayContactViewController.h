#pragma once
// The read-only person screen of displayContact: leaving it closes the whole navigation that
// was presented for it, so the user never lands on its empty root.
#include "plat/addressbookui/ABPersonViewController.h"

namespace harbor {

class HBRDisplayContactViewController : public plat::ABPersonViewController {
 public:
  void viewWillDisappear(bool animated) override;
};

}  // namespace harbor
