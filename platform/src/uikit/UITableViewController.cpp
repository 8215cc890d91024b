#include "plat/uikit/UITableViewController.h"

#include "plat/uikit/UIScreen.h"

namespace plat {

void UITableViewController::loadView() {
  auto table = std::make_shared<UITableView>();
  table->initWithFrame(UIScreen::mainScreen().bounds());
  setView(table);
}

}  // namespace plat
