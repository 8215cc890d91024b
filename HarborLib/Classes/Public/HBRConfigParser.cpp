#include "HBRConfigParser.h"

#include "plat/foundation/Log.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

const std::string* stringAttribute(const plat::Dictionary& attributes, std::string_view name) {
  const plat::Value* value = attributes.find(name);
  return value && value->isString() ? &value->asString() : nullptr;
}

}  // namespace

HBRConfigParser::HBRConfigParser() {
  pluginsDict_.reserve(30);
  settings_.reserve(30);
  startupPluginNames_.reserve(8);
}

void HBRConfigParser::parserDidStartElementNamespaceURIQualifiedNameAttributes(
    plat::NSXMLParser&, const std::string& elementName, const std::optional<std::string>&,
    const std::optional<std::string>&, const plat::Dictionary& attributes) {
  const std::string* name = stringAttribute(attributes, "name");
  const std::string* value = stringAttribute(attributes, "value");
  if (elementName == "preference") {
    if (name && !name->empty() && value) settings_.set(plat::toLowerASCII(*name), *value);
  } else if (elementName == "feature") {
    // A nameless feature gets no entries: its params land nowhere.
    featureName_.reset();
    if (name && !name->empty()) featureName_ = plat::toLowerASCII(*name);
  } else if (elementName == "param") {
    if (!featureName_) return;
    std::string paramName = name ? plat::toLowerASCII(*name) : std::string();
    if (paramName == "ios-package" && value && !value->empty()) pluginsDict_.set(*featureName_, *value);
    const std::string* onload = stringAttribute(attributes, "onload");
    bool onloadParam = paramName == "onload" && value && *value == "true";
    bool onloadAttribute = onload && plat::toLowerASCII(*onload) == "true";
    if (onloadParam || onloadAttribute) startupPluginNames_.push_back(*featureName_);
  } else if (elementName == "content") {
    if (const std::string* src = stringAttribute(attributes, "src")) startPage_ = *src;
  }
}

void HBRConfigParser::parserDidEndElementNamespaceURIQualifiedName(plat::NSXMLParser&, const std::string& elementName,
                                                                   const std::optional<std::string>&,
                                                                   const std::optional<std::string>&) {
  if (elementName == "feature") featureName_.reset();
}

void HBRConfigParser::parserParseErrorOccurred(plat::NSXMLParser& parser, const plat::NSError& parseError) {
  // The position alone does not say what to mend: an entity, a file too large, a stray tag.
  std::string reason = parseError.localizedDescription;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  plat::NSAssertionFailuref("config.xml parse error line %ld col %ld: %s", parser.lineNumber(), parser.columnNumber(),
                            plat::logEscaped(reason).c_str());
}

}  // namespace harbor
