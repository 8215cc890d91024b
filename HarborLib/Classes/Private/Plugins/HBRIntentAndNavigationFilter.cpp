#include "HBRIntentAndNavigationFilter.h"

#include "HBRViewController.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSException.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {
namespace {

constexpr char kAllowNavigation[] = "allow-navigation";
constexpr char kAllowIntent[] = "allow-intent";
constexpr char kAlwaysNavigable[] = "file://";

HBRWhitelistPtr whitelistOf(const std::vector<std::string>& entries) {
  auto list = std::make_shared<HBRWhitelist>();
  list->initWithArray(entries);
  return list;
}

}  // namespace

void HBRIntentAndNavigationFilter::pluginInitialize() {
  // The container's own controller reads the same config.xml it started from; any other
  // controller has no configuration to offer, and the filter then refuses everything.
  if (auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController()))
    controller->parseSettingsWithParser(self<HBRIntentAndNavigationFilter>());
}

void HBRIntentAndNavigationFilter::parserDidStartDocument(plat::NSXMLParser&) {
  allowNavigations_ = {kAlwaysNavigable};
  allowIntents_.clear();
}

void HBRIntentAndNavigationFilter::parserDidStartElementNamespaceURIQualifiedNameAttributes(
    plat::NSXMLParser&, const std::string& elementName, const std::optional<std::string>&,
    const std::optional<std::string>&, const plat::Dictionary& attributes) {
  const bool navigation = elementName == kAllowNavigation;
  if (!navigation && elementName != kAllowIntent) return;
  // An element without href names nothing; adding it as an empty entry would allow every http
  // and https URL.
  const plat::Value& href = attributes.get("href");
  if (!href.isString()) return;
  (navigation ? allowNavigations_ : allowIntents_).push_back(href.asString());
}

void HBRIntentAndNavigationFilter::parserDidEndDocument(plat::NSXMLParser&) {
  allowIntentsWhitelist_ = whitelistOf(allowIntents_);
  allowNavigationsWhitelist_ = whitelistOf(allowNavigations_);
}

void HBRIntentAndNavigationFilter::parserParseErrorOccurred(plat::NSXMLParser& parser, const plat::NSError&) {
  plat::NSAssertionFailuref("config.xml parse error line %ld col %ld", parser.lineNumber(), parser.columnNumber());
}

HBRIntentAndNavigationFilterValue HBRIntentAndNavigationFilter::filterUrlIntentsWhitelistNavigationsWhitelist(
    const plat::NSURLPtr& url, const HBRWhitelistPtr& intentsWhitelist, const HBRWhitelistPtr& navigationsWhitelist) {
  const bool navigationAllowed = navigationsWhitelist && navigationsWhitelist->URLIsAllowedLogFailure(url, false);
  const bool intentAllowed = intentsWhitelist && intentsWhitelist->URLIsAllowedLogFailure(url, false);
  if (navigationAllowed) return HBRIntentAndNavigationFilterValueNavigationAllowed;
  if (intentAllowed) return HBRIntentAndNavigationFilterValueIntentAllowed;
  return HBRIntentAndNavigationFilterValueNoneAllowed;
}

HBRIntentAndNavigationFilterValue HBRIntentAndNavigationFilter::filterUrl(const plat::NSURLPtr& url) const {
  return filterUrlIntentsWhitelistNavigationsWhitelist(url, allowIntentsWhitelist_, allowNavigationsWhitelist_);
}

bool HBRIntentAndNavigationFilter::shouldOverrideLoadWithRequest(const plat::NSURLRequestPtr& request,
                                                                 long navigationType) {
  plat::NSURLPtr url = request ? request->URL() : nullptr;
  const bool linkClicked = navigationType == kNavigationTypeLinkClicked;
  // A page's address may be megabytes long: it is logged cut, as every page text is.
  const std::string text = url ? plat::logPageText(url->absoluteString()) : "(null)";
  switch (filterUrl(url)) {
    case HBRIntentAndNavigationFilterValueNavigationAllowed:
      return true;
    case HBRIntentAndNavigationFilterValueIntentAllowed:
      // Only the user's own tap may send them to another application.
      if (linkClicked) {
        plat::UIApplication::sharedApplication()->openURL(url);
        return false;
      }
      // Anything else (a start page, a script's navigation) would vanish without a word.
      plat::NSLogf("ERROR Internal navigation rejected - <allow-navigation> not set for url='%s'", text.c_str());
      return false;
    case HBRIntentAndNavigationFilterValueNoneAllowed:
      break;
  }
  plat::NSLogf("ERROR Internal navigation rejected - <allow-navigation> not set for url='%s'", text.c_str());
  if (linkClicked)
    plat::NSLogf("ERROR External navigation rejected - <allow-intent> not set for url='%s'", text.c_str());
  return false;
}

}  // namespace harbor
