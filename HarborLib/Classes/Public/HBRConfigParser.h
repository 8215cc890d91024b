#pragma once
// The reader of config.xml: preferences (under lower-cased names), the map from service name
// (lower-cased) to plugin class, the services to create at start-up, and the start page.
//
//   <preference name="N" value="V"/>          settings[lower(N)] = V (a later one replaces)
//   <feature name="F">                        starts feature lower(F); its end closes it
//     <param name="ios-package" value="C"/>   pluginsDict[lower(F)] = C
//     <param name="onload" value="true"/>     lower(F) joins startupPluginNames (exactly "true")
//     <param ... onload="TRUE"/>              so does an onload attribute, in any case
//   <content src="S"/>                        startPage = S (the last one wins)
//
// Element and attribute names are compared exactly. Elements that lack the name or value they
// need (a nameless preference or feature, an "ios-package" param without value, content
// without src) are ignored rather than stored under no key. A parse error is an assertion
// failure "config.xml parse error line %ld col %ld": the container cannot start without its
// configuration.
//
// Main thread, during start-up.
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/NSXMLParser.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRConfigParser : public plat::Object, public plat::NSXMLParserDelegate {
 public:
  HBRConfigParser();

  // Lower-cased service name -> plugin class name.
  plat::Dictionary& pluginsDict() { return pluginsDict_; }
  const plat::Dictionary& pluginsDict() const { return pluginsDict_; }
  // Lower-cased preference name -> value as written (strings).
  plat::Dictionary& settings() { return settings_; }
  const plat::Dictionary& settings() const { return settings_; }
  const std::optional<std::string>& startPage() const { return startPage_; }
  // Lower-cased service names in document order, duplicates kept.
  std::vector<std::string>& startupPluginNames() { return startupPluginNames_; }
  const std::vector<std::string>& startupPluginNames() const { return startupPluginNames_; }
  // The feature being read, if any.
  const std::optional<std::string>& featureName() const { return featureName_; }

  void parserDidStartElementNamespaceURIQualifiedNameAttributes(plat::NSXMLParser& parser,
                                                                const std::string& elementName,
                                                                const std::optional<std::string>& namespaceURI,
                                                                const std::optional<std::string>& qualifiedName,
                                                                const plat::Dictionary& attributes) override;
  void parserDidEndElementNamespaceURIQualifiedName(plat::NSXMLParser& parser, const std::string& elementName,
                                                    const std::optional<std::string>& namespaceURI,
                                                    const std::optional<std::string>& qualifiedName) override;
  void parserParseErrorOccurred(plat::NSXMLParser& parser, const plat::NSError& parseError) override;

 private:
  std::optional<std::string> featureName_;
  plat::Dictionary pluginsDict_;
  plat::Dictionary settings_;
  std::optional<std::string> startPage_;
  std::vector<std::string> startupPluginNames_;
};

}  // namespace harbor
