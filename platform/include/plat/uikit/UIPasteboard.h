#pragma once
// Pasteboards: a list of items, each a dictionary from a type name ("public.text",
// "public.utf8-plain-text", ...) to a value. The general pasteboard is process-wide and lives in
// memory, unless a system clipboard stands behind its text: when the pages show on WebKit, that is
// the clipboard WebKit gives the pages (the runner's own, never the desktop's), so what a page
// copies the plugins paste and the other way round, as on the device.
//
// Threads: any thread; every call is atomic.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

inline constexpr char kUTTypeText[] = "public.text";
inline constexpr char kUTTypeUTF8PlainText[] = "public.utf8-plain-text";
inline constexpr char kUTTypePlainText[] = "public.plain-text";

class UIPasteboard : public Object {
 public:
  static std::shared_ptr<UIPasteboard> generalPasteboard();

  std::vector<Dictionary> items() const;
  void setItems(std::vector<Dictionary> items);
  std::size_t numberOfItems() const;
  // Counts every change of the contents.
  std::int64_t changeCount() const;

  // The value of that type in the first item that has it, or absent.
  Value valueForPasteboardType(std::string_view type) const;
  // Replaces the contents with one item holding the value under the type. Absent or null removes
  // the items that hold the type instead (the platform's own call refuses to store nothing).
  void setValueForPasteboardType(const Value& value, const std::string& type);

  // The first text item's text (any of the plain-text types), or nothing.
  std::optional<std::string> string() const;
  // Replaces the contents with one "public.utf8-plain-text" item; nothing empties the pasteboard.
  void setString(const std::optional<std::string>& text);

  // Test surface: empties the general pasteboard.
  static void resetGeneralPasteboard();

  // The clipboard behind the general pasteboard's text, or none (memory only). Its calls run on
  // the main thread (the pasteboard hops there from other threads).
  struct SystemClipboard {
    std::function<std::optional<std::string>()> readText;
    std::function<void(const std::string& text)> writeText;
  };
  static void setSystemClipboard(std::optional<SystemClipboard> clipboard);

 private:
  void changed() const { ++changeCount_; }
  // With a system clipboard: its text becomes the contents when it changed outside (before a
  // read), and the contents' text goes to it (after a change). Called without the lock held.
  void takeSystemText() const;
  void giveSystemText();
  mutable std::mutex mutex_;
  // Mutable: a read takes in what changed on the system clipboard.
  mutable std::vector<Dictionary> items_;
  mutable std::int64_t changeCount_ = 0;
};

}  // namespace plat
