#pragma once
// Pasteboards: a list of items, each a dictionary from a type name ("public.text",
// "public.utf8-plain-text", ...) to a value. The general pasteboard is process-wide and lives in
// memory; nothing is shared with the desktop's clipboard.
//
// Threads: any thread; every call is atomic.
#include <cstdint>
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

 private:
  void changed() { ++changeCount_; }
  mutable std::mutex mutex_;
  std::vector<Dictionary> items_;
  std::int64_t changeCount_ = 0;
};

}  // namespace plat
