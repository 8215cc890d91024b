#pragma once
// Text comparison the way people search: ignoring letter case ("É" finds "é") and, when asked,
// diacritics ("e" finds "é", "Ö" finds "o"), on Unicode text through ICU. Scripts without case or
// marks (CJK) compare as they are.
//
// Threads: any.
#include <string>
#include <string_view>

namespace plat {

struct FoldOptions {
  bool caseInsensitive = true;
  bool diacriticInsensitive = true;
};

// Whether haystack contains needle once both are folded. An empty needle is contained nowhere,
// as a search for nothing finds nothing.
bool containsFolded(std::string_view haystack, std::string_view needle, FoldOptions options = {});

}  // namespace plat
