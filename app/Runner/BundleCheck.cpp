#include "BundleCheck.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "HBRConfigLoader.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSXMLParser.h"
#include "plat/foundation/PropertyList.h"
#include "plat/foundation/Strings.h"
#include "plat/web/HTMLTokenizer.h"

namespace harbor::runner {
namespace {

namespace fs = std::filesystem;

// The start page of config.xml, by the container's rule (the last <content src> wins), and its
// error page; nothing else: the container reads the rest itself.
class StartPageReader : public plat::NSXMLParserDelegate {
 public:
  void parserDidStartElementNamespaceURIQualifiedNameAttributes(plat::NSXMLParser&, const std::string& elementName,
                                                                const std::optional<std::string>&,
                                                                const std::optional<std::string>&,
                                                                const plat::Dictionary& attributes) override {
    if (elementName == "preference") {
      // Preferences are named without regard to letter case, as the container reads them.
      const plat::Value& name = attributes.get("name");
      const plat::Value& value = attributes.get("value");
      if (name.isString() && value.isString() && plat::toLowerASCII(name.asString()) == "errorurl")
        errorPage = value.asString();
      return;
    }
    if (elementName != "content") return;
    const plat::Value& src = attributes.get("src");
    if (src.isString()) startPage = src.asString();
  }

  std::optional<std::string> startPage;
  std::optional<std::string> errorPage;
};

// A regular file of at most `limit` bytes (stat follows links, so a link to a device is none).
bool isPlainFileOfAtMost(const std::string& path, std::uint64_t limit) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
         static_cast<std::uint64_t>(st.st_size) <= limit;
}

std::string withoutQueryAndFragment(const std::string& reference) {
  return reference.substr(0, reference.find_first_of("?#"));
}

bool inside(const fs::path& path, const fs::path& folder) {
  auto relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

// The start of a plain file; nothing for anything else (a pipe would never end).
std::optional<std::string> readStart(const std::string& path, std::size_t bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(bytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(bytes));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

// The container's page script among the start page's scripts, as a path in the bundle.
std::optional<std::string> pageScriptOf(const fs::path& bundle, const fs::path& page, const std::string& html) {
  for (const plat::web::HTMLToken& token : plat::web::tokenizeHTML(html)) {
    if (token.kind != plat::web::HTMLToken::Kind::StartTag || token.name != "script") continue;
    const std::string* src = token.attribute("src");
    if (!src) continue;
    std::string reference = withoutQueryAndFragment(*src);
    // Only a file of the bundle's own: not a URL, nor a path from the file system's root.
    if (reference.empty() || reference.find(':') != std::string::npos || reference.front() == '/') continue;
    fs::path script = (page.parent_path() / reference).lexically_normal();
    if (script.filename() != "harbor.js" || !inside(script, bundle)) continue;
    return script.lexically_relative(bundle).string();
  }
  return std::nullopt;
}

}  // namespace

plat::Result<BundleStart> readBundleStart(const std::string& bundle) {
  BundleStart start;
  const fs::path folder = fs::path(bundle).lexically_normal();
  const std::string config = (folder / HBRConfigLoader::kDefaultConfigFile).string();
  if (isPlainFileOfAtMost(config, HBRConfigLoader::kMaxConfigFileBytes)) {
    auto parser = std::make_shared<plat::NSXMLParser>();
    auto reader = std::make_shared<StartPageReader>();
    if (parser->initWithContentsOfURL(plat::NSURL::fileURLWithPath(config))) {
      parser->setDelegate(reader);
      if (!parser->parse()) {
        std::string reason = parser->parserError() ? parser->parserError()->localizedDescription : "";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
        return plat::Failure{plat::format("%s is not well-formed XML (line %ld, column %ld: %s): correct the file",
                                          plat::logEscaped(config).c_str(), parser->lineNumber(),
                                          parser->columnNumber(), plat::logEscaped(reason).c_str())};
      }
      if (reader->startPage) start.startPage = *reader->startPage;
      start.errorPage = reader->errorPage;
    }
  }

  std::string page = withoutQueryAndFragment(start.startPage);
  if (page.empty() || start.startPage.find("://") != std::string::npos) return start;
  fs::path pagePath = (folder / "www" / page).lexically_normal();
  if (!inside(pagePath, folder)) return start;
  auto html = readStart(pagePath.string(), kStartPageScanBytes);
  if (!html) return start;
  start.pageScript = pageScriptOf(folder, pagePath, *html);
  if (start.pageScript) {
    std::error_code ec;
    start.pageScriptPresent = fs::is_regular_file(folder / *start.pageScript, ec);
  }
  return start;
}

plat::Result<BundleIdentity> readBundleIdentity(const std::string& bundle) {
  const fs::path folder = fs::path(bundle).lexically_normal();
  const std::string info = (folder / "Info.plist").string();
  const std::string name = folder.filename().string();
  std::error_code ec;
  const bool present = fs::exists(fs::symlink_status(info, ec));
  if (present) {
    // A pipe would never end; a folder or a device is no property list either.
    if (!fs::is_regular_file(info, ec))
      return plat::Failure{plat::logEscaped(info) + " is not a plain file: make it the bundle's property list"};
    plat::NSError error;
    auto text = plat::readFileContents(info, &error);
    if (!text) return plat::Failure{"cannot read " + plat::logEscaped(info) + ": " + error.localizedDescription};
    auto list = plat::plist::parse(*text);
    if (!list || !list->isDictionary()) {
      std::string reason = list ? "not a property list with a dict at its top" : list.error();
      return plat::Failure{plat::logEscaped(info) + " cannot be read: " + plat::logEscaped(reason) +
                           "; correct the file"};
    }
    const plat::Value& identifier = list->asDictionary().get("CFBundleIdentifier");
    if (!identifier.isAbsent()) return BundleIdentity{identifier.stringOr(), std::nullopt, identifier};
  }
  // Without an identifier of its own the bundle runs under its folder's name, which then names
  // its sandbox home and files, so it must be one an identifier could be.
  const std::string whatIsMissing =
      present ? plat::logEscaped(info) + " has no CFBundleIdentifier" : plat::logEscaped(info) + " is missing";
  if (!plat::isValidBundleIdentifier(name)) {
    return plat::Failure{whatIsMissing + ", and the folder's name, \"" + plat::logEscaped(name) +
                         "\", cannot stand for the bundle identifier (1 to " +
                         std::to_string(plat::kMaxBundleIdentifierLength) +
                         " letters, digits, \".\" and \"-\"): " +
                         (present ? "add CFBundleIdentifier to it" : "add an Info.plist with CFBundleIdentifier")};
  }
  std::string assumed = whatIsMissing + ", so the bundle identifier is taken to be the folder's name, \"" + name + "\"";
  if (!present)
    assumed += ", and none of Info.plist's keys is set (without NSLocationWhenInUseUsageDescription the user is "
               "never asked for the position); add an Info.plist with CFBundleIdentifier";
  else
    assumed += "; add CFBundleIdentifier to it";
  return BundleIdentity{name, assumed, plat::Value()};
}

std::optional<std::string> missingPageScriptProblem(const std::string& bundle, const BundleStart& start,
                                                    const std::string& executable, const std::string& currentFolder) {
  if (!start.pageScript || start.pageScriptPresent) return std::nullopt;
  const fs::path folder = fs::path(bundle).lexically_normal();
  const std::string& script = *start.pageScript;
  // <build>/app/harbor -> <build>/examples/<the bundle's folder name>
  fs::path build = fs::path(executable).parent_path().parent_path();
  fs::path built = (build / "examples" / folder.filename()).lexically_normal();
  std::error_code ec;
  if (!executable.empty() && built != folder && fs::is_regular_file(built / script, ec)) {
    fs::path shown = built;
    if (!currentFolder.empty() && inside(built, fs::path(currentFolder).lexically_normal()))
      shown = built.lexically_relative(fs::path(currentFolder).lexically_normal());
    return script + " is missing: run the built bundle, " + plat::logEscaped(shown.string());
  }
  return script + " is missing: the start page www/" + plat::logEscaped(withoutQueryAndFragment(start.startPage)) +
         " loads the container's page script from there; copy www/harbor.js of the Harbor sources into the bundle";
}

}  // namespace harbor::runner
