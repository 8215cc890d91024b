// Feeds arbitrary bytes to the page engine's HTML tokenizer, as a hostile or broken page would.
// Whatever the input, it must end with tokens (never crash, hang or read outside its input),
// tag names in lower case, and lines that only go forward.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "plat/web/HTMLTokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view html(reinterpret_cast<const char*>(data), size);
  int line = 1;
  for (const plat::web::HTMLToken& token : plat::web::tokenizeHTML(html)) {
    if (token.line < line) __builtin_trap();
    line = token.line;
    for (char c : token.name)
      if (c >= 'A' && c <= 'Z') __builtin_trap();
    for (const auto& attribute : token.attributes)
      for (char c : attribute.name)
        if (c >= 'A' && c <= 'Z') __builtin_trap();
  }
  plat::web::decodeHTMLEntities(html);
  return 0;
}
