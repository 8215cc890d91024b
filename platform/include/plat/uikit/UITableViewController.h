#pragma once
// Table screens: a table view whose rows come from its controller (sections, rows, cells,
// heights) and a cell with a text label, an image and an accessory. Nothing is drawn; callers
// (tests, the runner) ask the controller for the cells a screen would show and select rows as a
// finger would.
//
// Threads: main thread only.
#include <memory>
#include <optional>
#include <string>

#include "plat/uikit/UIImageView.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

struct NSIndexPath {
  long section = 0;
  long row = 0;
  bool operator==(const NSIndexPath&) const = default;
};

enum UITableViewCellAccessoryType : long { UITableViewCellAccessoryNone = 0, UITableViewCellAccessoryDisclosureIndicator = 1 };
enum UITableViewScrollPosition : long { UITableViewScrollPositionNone = 0, UITableViewScrollPositionTop = 1, UITableViewScrollPositionMiddle = 2, UITableViewScrollPositionBottom = 3 };

class UITableViewCell : public UIView {
 public:
  void initWithReuseIdentifier(std::string identifier) { reuseIdentifier_ = std::move(identifier); }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text) { text_ = std::move(text); }
  std::shared_ptr<UIImage> image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image) { image_ = std::move(image); }
  UITableViewCellAccessoryType accessoryType() const { return accessory_; }
  void setAccessoryType(UITableViewCellAccessoryType type) { accessory_ = type; }

 private:
  std::string reuseIdentifier_;
  std::optional<std::string> text_;
  std::shared_ptr<UIImage> image_;
  UITableViewCellAccessoryType accessory_ = UITableViewCellAccessoryNone;
};
using UITableViewCellPtr = std::shared_ptr<UITableViewCell>;

class UITableView : public UIScrollView {
 public:
  void reloadData() { ++reloads_; }
  std::size_t reloadCount() const { return reloads_; }
  void scrollToRowAtIndexPath(NSIndexPath path, UITableViewScrollPosition position, bool animated) {
    scrolledTo_ = path;
  }
  std::optional<NSIndexPath> scrolledTo() const { return scrolledTo_; }
  bool showsSeparators() const { return separators_; }
  void setShowsSeparators(bool shows) { separators_ = shows; }
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool allows) { allowsSelection_ = allows; }

 private:
  std::size_t reloads_ = 0;
  std::optional<NSIndexPath> scrolledTo_;
  bool separators_ = true;
  bool allowsSelection_ = true;
};
using UITableViewPtr = std::shared_ptr<UITableView>;

class UITableViewController : public UIViewController {
 public:
  // The view is the table, as wide as the screen.
  void loadView() override;
  UITableViewPtr tableView() { return std::static_pointer_cast<UITableView>(view()); }

  virtual long numberOfSectionsInTableView() { return 1; }
  virtual long numberOfRowsInSection(long section) { return 0; }
  virtual UITableViewCellPtr cellForRowAtIndexPath(NSIndexPath path) { return nullptr; }
  virtual double heightForRowAtIndexPath(NSIndexPath path) { return 44; }
  virtual void didSelectRowAtIndexPath(NSIndexPath path) {}
};

}  // namespace plat
