#pragma once
// Stands in for the user in front of the screen. Every alert that appears (alert controllers and
// the legacy alert views) is listed here until it goes away; tests and the runner read what it
// says and answer it: tap a button, type into a text field. Like a finger, the driver only
// reaches the topmost alert. Image pickers on screen are listed the same way: the driver takes a
// picture with the camera (a given one, or the camera's own), films for some seconds, picks a
// library asset or a movie, or cancels; a tap outside the
// popover that shows one closes the popover.
//
// Full screens that wait for the user (the address book's people picker, person and new-person
// screens) are listed the same way, apart from the alerts: the driver picks a row, fills in a
// field or taps a button of the topmost one.
//
// An automatic answer can be switched on (the runner does): every alert that appears is answered
// on a later turn, by default with its first button and the text fields as they are.
//
// Threads: main thread only.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {

class UIImage;
class NSURL;
class UIPopoverController;

// What the driver needs of an alert on screen.
class UIDrivenAlert {
 public:
  virtual ~UIDrivenAlert() = default;
  virtual std::optional<std::string> alertTitle() const = 0;
  virtual std::optional<std::string> alertMessage() const = 0;
  virtual std::vector<std::string> buttonTitles() const = 0;
  virtual std::size_t textFieldCount() const = 0;
  virtual std::optional<std::string> textFieldText(std::size_t index) const = 0;
  virtual bool setTextFieldText(std::size_t index, std::optional<std::string> text) = 0;
  // Presses the button as the user would: the alert goes away and its handler runs. False when
  // there is no such button, the alert is covered, or it has been answered already.
  virtual bool tapButton(std::size_t index) = 0;
  // Something is being shown over it (perhaps not on screen yet): it cannot be touched.
  virtual bool isCovered() const { return false; }
};

// What the driver needs of an image picker on screen.
class UIDrivenPicker {
 public:
  virtual ~UIDrivenPicker() = default;
  // The platform's source types: 0 photo library, 1 camera, 2 saved-photos album.
  virtual long pickerSourceType() const = 0;
  virtual std::vector<std::string> pickerMediaTypes() const = 0;
  // The camera takes this picture. False for a library picker or one that offers no pictures.
  virtual bool pickImage(const std::shared_ptr<UIImage>& image) = 0;
  // The user chooses this asset of the photo library (the answer comes on a later turn). False
  // for the camera.
  virtual bool pickAsset(const std::shared_ptr<NSURL>& assetURL) = 0;
  // The user chooses (or records) the movie file at path. False when movies are not offered.
  virtual bool pickMovie(const std::string& path) = 0;
  virtual bool cancelPicking() = 0;
  // The camera's own buttons: it takes a picture, or films for `seconds`. False where the picker
  // cannot (not a camera, or not in that mode).
  virtual bool takePicture() { return false; }
  virtual bool recordVideo(double seconds) { return false; }
};

// What the driver needs of a full screen on display.
class UIDrivenScreen {
 public:
  struct Row {
    std::int64_t id;
    std::string text;
    bool operator==(const Row&) const = default;
  };
  virtual ~UIDrivenScreen() = default;
  virtual std::string screenTitle() const = 0;
  virtual std::vector<std::string> buttonTitles() const = 0;
  // False when the screen has no such button or cannot act now.
  virtual bool tapButton(const std::string& title) = 0;
  // The rows to choose from (the people of a picker).
  virtual std::vector<Row> rows() const { return {}; }
  virtual bool selectRow(std::int64_t id) { return false; }
  // How many rows may be chosen together, when the screen sets a limit (0: none may; negative:
  // any number).
  virtual std::optional<long> selectionLimit() const { return std::nullopt; }
  // The fields that can be filled in.
  virtual std::vector<std::string> fieldNames() const { return {}; }
  virtual bool setFieldText(const std::string& field, const std::string& text) { return false; }
};

class UIDriver {
 public:
  struct AutoAnswer {
    std::size_t buttonIndex = 0;  // past the last button: the last one
    // Typed into the first text field before tapping; nothing keeps its text.
    std::optional<std::string> text;
  };
  using Observer = std::function<void(const UIDrivenAlert& alert)>;
  // Acts on a screen as the user would; runs on a later turn after the screen came on top.
  using ScreenAnswer = std::function<void(UIDrivenScreen& screen)>;

  static UIDriver& shared();

  // On screen, bottom first.
  std::vector<std::shared_ptr<UIDrivenAlert>> alerts() const { return alerts_; }
  std::shared_ptr<UIDrivenAlert> topAlert() const;
  std::size_t alertCount() const { return alerts_.size(); }

  // On the topmost alert; false when there is none, it is covered by something about to appear,
  // or it has no such button or field.
  bool tapButton(std::size_t index);
  bool setTextFieldText(std::size_t index, std::string text);

  // Taps the status bar (while it shows): the one visible scroll view of the application's
  // window that scrolls to the top asks its delegate, and scrolls there when it may. False when
  // nothing took the tap (no window, the bar hidden, none or several such scroll views).
  bool tapStatusBar();

  // Image pickers on screen, bottom first; the driver acts on the topmost one (false without).
  std::shared_ptr<UIDrivenPicker> topPicker() const { return pickers_.empty() ? nullptr : pickers_.back(); }
  std::size_t pickerCount() const { return pickers_.size(); }
  bool pickImage(const std::shared_ptr<UIImage>& image);
  bool pickAsset(const std::shared_ptr<NSURL>& assetURL);
  bool pickMovie(const std::string& path);
  bool cancelPicker();
  // The camera's buttons on the topmost picker (see UIDrivenPicker).
  bool takePicture();
  bool recordVideo(double seconds);
  // The runner's automatic answer to every picker that appears, on a later turn.
  using PickerAnswer = std::function<void(UIDrivenPicker& picker)>;
  void setPickerAutoAnswer(PickerAnswer answer) { pickerAnswer_ = std::move(answer); }

  // Taps beside the topmost visible popover: it closes and tells its delegate. False without one.
  bool tapOutsidePopover();

  // Switches the automatic answer on (or off with nothing).
  void setAutoAnswer(std::optional<AutoAnswer> answer) { autoAnswer_ = std::move(answer); }
  // Hears every alert as it appears (the runner prints them).
  void setObserver(Observer observer) { observer_ = std::move(observer); }

  // Called by the alert classes.
  void alertDidAppear(const std::shared_ptr<UIDrivenAlert>& alert);
  void alertDidDisappear(const UIDrivenAlert* alert);

  // Called by the picker and popover classes.
  void pickerDidAppear(const std::shared_ptr<UIDrivenPicker>& picker);
  void pickerDidDisappear(const UIDrivenPicker* picker);
  void popoverDidAppear(const std::shared_ptr<UIPopoverController>& popover);
  void popoverDidDisappear(const UIPopoverController* popover);

  // Screens on display, bottom first.
  std::vector<std::shared_ptr<UIDrivenScreen>> screens() const { return screens_; }
  std::shared_ptr<UIDrivenScreen> topScreen() const;
  // On the topmost screen; false when there is none or it refuses.
  bool tapScreenButton(const std::string& title);
  bool selectRow(std::int64_t id);
  bool setFieldText(const std::string& field, const std::string& text);
  // Switches the automatic answer of screens on (or off with nothing).
  void setScreenAnswer(ScreenAnswer answer) { screenAnswer_ = std::move(answer); }

  // Called by the screen classes.
  void screenDidAppear(const std::shared_ptr<UIDrivenScreen>& screen);
  void screenDidDisappear(const UIDrivenScreen* screen);

  // Test surface: forgets every alert, screen, picker and popover, the automatic answers and the
  // observer.
  void reset();

 private:
  void scheduleAutoAnswer(const std::shared_ptr<UIDrivenAlert>& alert);
  void scheduleScreenAnswer(const std::shared_ptr<UIDrivenScreen>& screen);

  std::vector<std::shared_ptr<UIDrivenAlert>> alerts_;
  std::vector<std::shared_ptr<UIDrivenPicker>> pickers_;
  std::vector<std::shared_ptr<UIPopoverController>> popovers_;
  PickerAnswer pickerAnswer_;
  std::optional<AutoAnswer> autoAnswer_;
  Observer observer_;
  std::vector<std::shared_ptr<UIDrivenScreen>> screens_;
  ScreenAnswer screenAnswer_;
};

}  // namespace plat
