#pragma once
// Copy and paste of text through the general pasteboard, under the type "public.text".
//
// Page actions (main thread; the pasteboard work and the answer happen on the global queue):
//   copy  [text]  -> OK with the text once it is on the pasteboard; without text, the text item
//                    is removed and the answer is OK with null
//   paste []      -> OK with the pasteboard's text, or null when it holds none
#include "HBRPlugin.h"

namespace harbor {

inline constexpr char kHBRClipboardPasteboardType[] = "public.text";

class HBRClipboard : public HBRPlugin {
 public:
  HBRClipboard();

  void copy(const HBRInvokedUrlCommandPtr& command);
  void paste(const HBRInvokedUrlCommandPtr& command);
};

}  // namespace harbor
