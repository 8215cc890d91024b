#pragma once
// The languages both page engines tell a page the device has, as BCP 47 tags: what
// navigator.language gives and what Intl and the toLocale... methods format with by default.
#include <string>
#include <vector>

namespace plat::web {

// The device's locale first ("fr_FR" as "fr-FR", "de_CH@currency=EUR" as "de-CH-u-cu-eur"), so
// that the page formats as the Globalization plugin does; then the user's other languages, each
// once. Main thread.
std::vector<std::string> pageLanguages();

}  // namespace plat::web
