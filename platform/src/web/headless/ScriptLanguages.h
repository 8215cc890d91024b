#pragma once
// The languages JavaScriptCore's Intl takes for a page's default locale in this process, as
// WebKit sets them in its page processes.
#include <string>
#include <vector>

namespace plat::web {

// Makes these BCP 47 tags the languages every context of the process formats with by default
// (Intl, toLocaleString, localeCompare, toLocaleUpperCase), from the next call on; nothing when
// they are the ones set already. Without it JavaScriptCore takes the C library's locale of the
// process, "C" and so en-US whatever the device's locale. Main thread.
void setScriptLanguages(const std::vector<std::string>& tags);

}  // namespace plat::web
