#include "WebOpenPanel.h"

#include <atomic>

#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIImagePickerController.h"

namespace plat {
namespace {

bool takesPictures(const web::WebPageClient::OpenPanel& panel) {
  if (panel.mimeTypes.empty()) return true;
  for (const std::string& type : panel.mimeTypes)
    if (type.rfind("image/", 0) == 0 || type == "*/*") return true;
  return false;
}

// The picker's delegate: keeps itself until the picker is done, and answers the page once.
class OpenPanelPicker : public UIImagePickerControllerDelegate {
 public:
  explicit OpenPanelPicker(std::function<void(std::vector<std::string>)> done) : done_(std::move(done)) {}

  void start(std::shared_ptr<OpenPanelPicker> self, const std::shared_ptr<UIViewController>& over) {
    self_ = std::move(self);
    picker_ = std::make_shared<UIImagePickerController>();
    picker_->setSourceType(UIImagePickerControllerSourceTypePhotoLibrary);
    picker_->setMediaTypes({kUTTypeImage});
    picker_->setDelegate(self_);
    if (!over->presentViewController(picker_, true, nullptr)) finish({});
  }

  void imagePickerControllerDidFinishPickingMediaWithInfo(UIImagePickerController&,
                                                          const UIImagePickerMediaInfo& info) override {
    std::vector<std::string> files;
    if (info.originalImage) {
      static std::atomic<unsigned> next{1};
      std::string path = stringByAppendingPathComponent(NSTemporaryDirectory(), format("picked_%03u.jpg", next++));
      NSError error;
      Data jpeg = UIImageJPEGRepresentation(*info.originalImage, 0.9);
      if (writeFileContentsAtomically(path, std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()), &error))
        files.push_back(path);
      else
        NSLog("The picked picture cannot be handed to the page: " + error.localizedDescription);
    }
    finish(std::move(files));
  }
  void imagePickerControllerDidCancel(UIImagePickerController&) override { finish({}); }

 private:
  void finish(std::vector<std::string> files) {
    auto keep = self_;
    self_.reset();
    if (picker_) picker_->dismissViewControllerAnimated(true, nullptr);
    picker_.reset();
    if (auto done = std::move(done_)) done(std::move(files));
    done_ = nullptr;
  }

  std::function<void(std::vector<std::string>)> done_;
  std::shared_ptr<UIImagePickerController> picker_;
  std::shared_ptr<OpenPanelPicker> self_;
};

}  // namespace

void runWebOpenPanel(const web::WebPageClient::OpenPanel& panel, std::function<void(std::vector<std::string>)> done) {
  auto over = UIApplication::sharedApplication()->topViewController();
  if (!takesPictures(panel) || !over) {
    if (!over) NSLog("The page's file chooser cannot be shown: no view controller can present it.");
    done({});
    return;
  }
  auto picker = std::make_shared<OpenPanelPicker>(std::move(done));
  picker->start(picker, over);
}

}  // namespace plat
