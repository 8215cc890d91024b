#pragma once
// The navigation filter: decides, for every navigation of the web view, whether the page may go
// there, whether the address is handed to the system instead (another application, the phone,
// the browser), or whether it is refused. It reads two lists of config.xml:
//
//   <allow-navigation href="https://*.example.com/*"/>   addresses the web view may show
//   <allow-intent href="tel:*"/>                          addresses handed to the system when
//                                                         the user follows a link to them
//
// "file://" is always navigable. An element without href is ignored (it has nothing to allow).
// The lists are read once, when the plugin starts, through the view controller's own pass over
// config.xml; when there is no such pass (another kind of view controller, or a config.xml that
// cannot be read) both lists stay unset and every navigation is refused.
//
// The filter answers every navigation vote, so a URL it refuses goes nowhere else: no other
// plugin hears of it as an opened URL.
//
// Threads: main thread only (plugin start and navigation callbacks). The URL it is asked about
// comes from the page and is trusted for nothing: it is only matched against the lists.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HBRNavigationVoter.h"
#include "HBRPlugin.h"
#include "HBRWhitelist.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/NSXMLParser.h"

namespace harbor {

enum HBRIntentAndNavigationFilterValue : long {
  HBRIntentAndNavigationFilterValueIntentAllowed = 0,
  HBRIntentAndNavigationFilterValueNavigationAllowed = 1,
  HBRIntentAndNavigationFilterValueNoneAllowed = 2,
};

class HBRIntentAndNavigationFilter : public HBRPlugin, public HBRNavigationVoter, public plat::NSXMLParserDelegate {
 public:
  // A followed link, in both engines' numbering; only such a navigation may open an intent.
  static constexpr long kNavigationTypeLinkClicked = 0;

  void pluginInitialize() override;

  void parserDidStartDocument(plat::NSXMLParser& parser) override;
  void parserDidStartElementNamespaceURIQualifiedNameAttributes(plat::NSXMLParser& parser,
                                                                const std::string& elementName,
                                                                const std::optional<std::string>& namespaceURI,
                                                                const std::optional<std::string>& qualifiedName,
                                                                const plat::Dictionary& attributes) override;
  void parserDidEndDocument(plat::NSXMLParser& parser) override;
  // "config.xml parse error line %ld col %ld" as an assertion failure: the configuration the
  // container started from is broken.
  void parserParseErrorOccurred(plat::NSXMLParser& parser, const plat::NSError& parseError) override;

  // Tests the URL, without logging, against both lists (an unset list allows nothing): allowed
  // for navigation wins over allowed as an intent.
  static HBRIntentAndNavigationFilterValue filterUrlIntentsWhitelistNavigationsWhitelist(
      const plat::NSURLPtr& url, const HBRWhitelistPtr& intentsWhitelist, const HBRWhitelistPtr& navigationsWhitelist);
  // The same with the plugin's own two lists.
  HBRIntentAndNavigationFilterValue filterUrl(const plat::NSURLPtr& url) const;

  // The vote: true lets the web view go there. A followed link to an intent is opened through
  // the application and refused here; an intent reached any other way is refused and not
  // opened. Refusals of addresses in neither list are logged.
  bool shouldOverrideLoadWithRequest(const plat::NSURLRequestPtr& request, long navigationType) override;

  const std::vector<std::string>& allowIntents() const { return allowIntents_; }
  const std::vector<std::string>& allowNavigations() const { return allowNavigations_; }
  const HBRWhitelistPtr& allowIntentsWhitelist() const { return allowIntentsWhitelist_; }
  const HBRWhitelistPtr& allowNavigationsWhitelist() const { return allowNavigationsWhitelist_; }

 private:
  std::vector<std::string> allowIntents_;
  std::vector<std::string> allowNavigations_;
  HBRWhitelistPtr allowIntentsWhitelist_;
  HBRWhitelistPtr allowNavigationsWhitelist_;
};

}  // namespace harbor
