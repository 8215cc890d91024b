#include <gtest/gtest.h>

#include "plat/foundation/NSXMLParser.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

namespace {

// Writes every event as one line.
class Recorder : public NSXMLParserDelegate {
 public:
  std::vector<std::string> events;
  std::string abortAt;
  bool throwAt = false;

  void parserDidStartDocument(NSXMLParser&) override { events.push_back("start document"); }
  void parserDidEndDocument(NSXMLParser&) override { events.push_back("end document"); }
  void parserDidStartElementNamespaceURIQualifiedNameAttributes(NSXMLParser& parser, const std::string& name,
                                                                const std::optional<std::string>& uri,
                                                                const std::optional<std::string>&,
                                                                const Dictionary& attributes) override {
    std::string line = "<" + name;
    if (uri) line += " {" + *uri + "}";
    for (const auto& [k, v] : attributes) line += " " + k + "=" + v.asString();
    events.push_back(line + ">");
    if (name == abortAt) parser.abortParsing();
    if (throwAt && name == "boom") throw std::runtime_error("delegate failed");
  }
  void parserDidEndElementNamespaceURIQualifiedName(NSXMLParser&, const std::string& name,
                                                    const std::optional<std::string>&,
                                                    const std::optional<std::string>&) override {
    events.push_back("</" + name + ">");
  }
  void parserFoundCharacters(NSXMLParser&, const std::string& text) override {
    if (!events.empty() && events.back().starts_with("text:"))
      events.back() += text;
    else
      events.push_back("text:" + text);
  }
  void parserParseErrorOccurred(NSXMLParser& parser, const NSError& error) override {
    events.push_back("error " + std::to_string(error.code) + " at " + std::to_string(parser.lineNumber()) + ":" +
                     std::to_string(parser.columnNumber()));
  }
};

struct Run {
  bool ok;
  std::vector<std::string> events;
  std::optional<NSError> error;
};

Run parse(const std::string& xml, bool namespaces = false, std::string abortAt = {}) {
  auto parser = std::make_shared<NSXMLParser>();
  parser->initWithData(xml);
  auto recorder = std::make_shared<Recorder>();
  recorder->abortAt = std::move(abortAt);
  parser->setDelegate(recorder);
  parser->setShouldProcessNamespaces(namespaces);
  bool ok = parser->parse();
  return {ok, recorder->events, parser->parserError()};
}

}  // namespace

TEST(NSXMLParser, DeliversEventsInDocumentOrder) {
  auto run = parse("<?xml version=\"1.0\"?>\n<widget xmlns=\"http://www.w3.org/ns/widgets\" id=\"x\">"
                   "<preference name=\"A&amp;B\" value=\"&#x41;&lt;\"/><!-- c --><p:x xmlns:p=\"urn:p\">t<![CDATA[<c>]]></p:x>"
                   "</widget>");
  EXPECT_TRUE(run.ok);
  std::vector<std::string> expected = {
      "start document", "<widget id=x>", "<preference name=A&B value=A<>", "</preference>",
      "<p:x>",          "text:t<c>",     "</p:x>",                         "</widget>",
      "end document",
  };
  EXPECT_EQ(run.events, expected);
  auto ns = parse("<w xmlns=\"urn:w\"><p:x xmlns:p=\"urn:p\"/></w>", true);
  EXPECT_EQ(ns.events[1], "<w {urn:w}>");
  EXPECT_EQ(ns.events[2], "<x {urn:p}>");
}

TEST(NSXMLParser, ReportsOneErrorWithLineAndColumnAndThenStops) {
  struct Case {
    const char* xml;
    long line;
  };
  const Case cases[] = {
      {"<a>\n<b>\n</a>", 3},
      {"<a>\n  <b x=\"1\" x=\"2\"/></a>", 2},
      {"", 1},
      {"<a></a><b/>", 1},
      {"<a>&undefined;</a>", 1},
      {"<a>\xFF</a>", 1},
  };
  for (const auto& c : cases) {
    auto run = parse(c.xml);
    EXPECT_FALSE(run.ok) << c.xml;
    ASSERT_TRUE(run.error) << c.xml;
    EXPECT_EQ(run.error->domain, NSXMLParserErrorDomain);
    ASSERT_FALSE(run.events.empty());
    EXPECT_TRUE(run.events.back().starts_with("error ")) << c.xml;
    EXPECT_NE(run.events.back().find(" at " + std::to_string(c.line) + ":"), std::string::npos)
        << c.xml << " -> " << run.events.back();
    for (std::size_t i = 0; i + 1 < run.events.size(); ++i)
      EXPECT_FALSE(run.events[i].starts_with("error")) << "one error only";
  }
}

TEST(NSXMLParser, RefusesEntityDeclarationsAndNeverFetches) {
  const char* hostile[] = {
      "<!DOCTYPE a [<!ENTITY x \"xx\"><!ENTITY y \"&x;&x;&x;&x;&x;&x;&x;&x;\">]><a>&y;</a>",
      "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
      "<!DOCTYPE a [<!ENTITY % p SYSTEM \"http://127.0.0.1:1/x.dtd\"> %p;]><a/>",
      "<!DOCTYPE a [<!ENTITY x \"v\">]><a b=\"&x;\"/>",
  };
  for (const char* xml : hostile) {
    auto run = parse(xml);
    EXPECT_FALSE(run.ok) << xml;
    EXPECT_EQ(run.error->code, NSXMLParserEntityDeclarationRefusedError) << xml;
    for (const auto& e : run.events) EXPECT_EQ(e.find("root:"), std::string::npos);
  }
  auto external = parse("<!DOCTYPE a SYSTEM \"http://127.0.0.1:1/a.dtd\"><a/>");
  EXPECT_TRUE(external.ok) << "an external DTD is named, not loaded";
}

TEST(NSXMLParser, AbortAndDelegateExceptionsStopTheParse) {
  auto run = parse("<a><b/><c/></a>", false, "b");
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.error->code, NSXMLParserDelegateAbortedParseError);
  EXPECT_EQ(std::count(run.events.begin(), run.events.end(), "<c>"), 0);

  auto parser = std::make_shared<NSXMLParser>();
  parser->initWithData("<a><boom/><after/></a>");
  auto recorder = std::make_shared<Recorder>();
  recorder->throwAt = true;
  parser->setDelegate(recorder);
  EXPECT_THROW(parser->parse(), std::runtime_error);
  EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "<after>"), 0);

  auto orphan = std::make_shared<NSXMLParser>();
  orphan->initWithData("<a/>");
  EXPECT_TRUE(orphan->parse()) << "no delegate is fine";
  for (int depth : {NSXMLParser::kMaxDepth, NSXMLParser::kMaxDepth + 1, 100000}) {
    std::string deep;
    for (int i = 0; i < depth; ++i) deep += "<a>";
    for (int i = 0; i < depth; ++i) deep += "</a>";
    EXPECT_EQ(parse(deep).ok, depth <= NSXMLParser::kMaxDepth) << depth;
  }
}

class NSXMLParserFileTest : public plat::testing::SandboxTest {};

TEST_F(NSXMLParserFileTest, ReadsOnlyFileURLsThatExist) {
  writeFile(inHome("config.xml"), "<widget/>");
  auto parser = std::make_shared<NSXMLParser>();
  EXPECT_TRUE(parser->initWithContentsOfURL(NSURL::fileURLWithPath(inHome("config.xml"))));
  EXPECT_TRUE(parser->parse());
  EXPECT_FALSE(parser->initWithContentsOfURL(NSURL::fileURLWithPath(inHome("missing.xml"))));
  EXPECT_FALSE(parser->initWithContentsOfURL(NSURL::fileURLWithPath(inHome("Documents"))));
  EXPECT_FALSE(parser->initWithContentsOfURL(NSURL::URLWithString("http://example.com/config.xml")));
  EXPECT_FALSE(parser->initWithContentsOfURL(nullptr));
}
