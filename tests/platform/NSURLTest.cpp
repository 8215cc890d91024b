#include <gtest/gtest.h>

#include <cerrno>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

TEST(NSURL, RefusesWhatARealParserRefuses) {
  const char* invalid[] = {
      "http://a b/",          "http://a/b c",        "http://a/\"x\"",     "http://a/\\x",
      "http://a/<x>",         "http://a/{x}",        "http://a/x|y",       "http://a/x^y",
      "http://a/x`y",         "http://a/\x01",       "http://a/\x7f",      "http://a/\xC3\xA9",
      "http://a/%",           "http://a/%4",         "http://a/%zz",       "http://a:port/",
      "http://a:65536/",      "http://a:-1/",        "http://a:123456/",   "http://a/#x#y",
      "http://a/[x]",         "http://[::1/",        "http://a@b@c/",      "1http://a/",
      ":no-scheme",           "a:b/../c:d\tx",       "http://[]/",
  };
  for (const char* text : invalid) EXPECT_EQ(NSURL::URLWithString(text), nullptr) << text;
}

// A refusal names what is wrong and where, so that a navigation refused for it can say why.
TEST(NSURL, SaysWhyItRefusesAText) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://a/x|y", "'|' at character 11, which a URL must escape"},
      {"http://a/b c", "a space at character 11"},
      {"http://a/\xC3\xA9", "a byte outside ASCII (0xC3) at character 10"},
      {"http://a/\x01", "a control character (0x01)"},
      {"http://a/%zz", "a '%' not followed by two hex digits at character 10"},
      {"http://a/%4", "a '%' not followed by two hex digits"},
      {"http://a/#x#y", "a second '#'"},
      {"http://a/[x]", "a bracket in its path"},
      {"http://a[b]/", "a bracket in its host name"},
      {"http://[::1/", "an IP-literal host without its ']'"},
      {"http://a:65536/", "a port that is no number up to 65535"},
      {"http://a:port/", "a port that is no number up to 65535"},
      {"http://a@b@c/", "a second '@' in its authority"},
      {"1http://a/", "a ':' after a first segment that is no scheme"},
  };
  for (const auto& [text, reason] : cases) {
    EXPECT_EQ(NSURL::URLWithString(text), nullptr) << text;
    EXPECT_NE(NSURL::refusalReason(text).find(reason), std::string::npos) << text << ": " << NSURL::refusalReason(text);
  }
  for (const char* valid : {"http://a/b?c=d#e", "file:///x/y%20z", "relative/path", ""})
    EXPECT_EQ(NSURL::refusalReason(valid), "") << valid;
}

TEST(NSURL, SplitsIntoComponents) {
  struct Case {
    const char* text;
    const char* scheme;
    const char* host;  // nullptr: none
    int port;          // -1: none
    const char* path;
    const char* query;     // nullptr: none
    const char* fragment;  // nullptr: none
  };
  const Case cases[] = {
      {"http://example.com:8080/a/b.html?x=1&y=2#top", "http", "example.com", 8080, "/a/b.html", "x=1&y=2", "top"},
      {"HTTPS://Example.COM", "HTTPS", "Example.COM", -1, "", nullptr, nullptr},
      {"file:///var/www/index.html", "file", nullptr, -1, "/var/www/index.html", nullptr, nullptr},
      {"file:///var/www%20dir/a%2Fb/", "file", nullptr, -1, "/var/www dir/a/b", nullptr, nullptr},
      {"http://[::1]:80/", "http", "::1", 80, "/", nullptr, nullptr},
      {"http://user:pw@host/", "http", "host", -1, "/", nullptr, nullptr},
      {"http://host:/x", "http", "host", -1, "/x", nullptr, nullptr},
      {"mailto:someone@example.com", "mailto", nullptr, -1, "someone@example.com", nullptr, nullptr},
      {"hbr://ready?", "hbr", "ready", -1, "", "", nullptr},
      {"index.html?a=[1]#f", nullptr, nullptr, -1, "index.html", "a=[1]", "f"},
      {"", nullptr, nullptr, -1, "", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    auto url = NSURL::URLWithString(c.text);
    ASSERT_NE(url, nullptr) << c.text;
    EXPECT_EQ(url->scheme().value_or("<none>"), c.scheme ? c.scheme : "<none>") << c.text;
    EXPECT_EQ(url->host().value_or("<none>"), c.host ? c.host : "<none>") << c.text;
    EXPECT_EQ(url->port().value_or(-1), c.port) << c.text;
    EXPECT_EQ(url->path(), c.path) << c.text;
    EXPECT_EQ(url->query().value_or("<none>"), c.query ? c.query : "<none>") << c.text;
    EXPECT_EQ(url->fragment().value_or("<none>"), c.fragment ? c.fragment : "<none>") << c.text;
    EXPECT_EQ(url->absoluteString(), c.text);
  }
}

TEST(NSURL, ResolvesReferencesAsTheStandardSays) {
  // RFC 3986, section 5.4.
  auto base = NSURL::URLWithString("http://a/b/c/d;p?q");
  ASSERT_NE(base, nullptr);
  const std::pair<const char*, const char*> cases[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {";x", "http://a/b/c/;x"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/../y", "http://a/b/c/y"},
  };
  for (const auto& [reference, expected] : cases) {
    auto url = NSURL::URLWithStringRelativeToURL(reference, base);
    ASSERT_NE(url, nullptr) << reference;
    EXPECT_EQ(url->absoluteString(), expected) << reference;
    EXPECT_EQ(url->relativeString(), reference);
  }
  EXPECT_EQ(NSURL::URLWithStringRelativeToURL("a b", base), nullptr);
}

TEST(NSURL, QueryAndFragmentAgainstAFileURLKeepThePath) {
  auto file = NSURL::fileURLWithPath("/app/www/index.html", false);
  auto url = NSURL::URLWithStringRelativeToURL("?debug=1#main", file);
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(url->absoluteString(), "file:///app/www/index.html?debug=1#main");
  EXPECT_EQ(url->path(), "/app/www/index.html");
  EXPECT_TRUE(url->isFileURL());
  EXPECT_EQ(url->baseURL(), file);
  EXPECT_EQ(url->absoluteURL()->baseURL(), nullptr);
}

TEST(NSURL, FileURLsEscapeThePathAndDecodeItOnce) {
  auto url = NSURL::fileURLWithPath("/tmp/a b/%41#?.txt", false);
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(url->absoluteString(), "file:///tmp/a%20b/%2541%23%3F.txt");
  EXPECT_EQ(url->path(), "/tmp/a b/%41#?.txt");
  EXPECT_EQ(url->lastPathComponent(), "%41#?.txt");
  EXPECT_EQ(url->pathExtension(), "txt");
  EXPECT_EQ(NSURL::fileURLWithPath("/tmp", true)->absoluteString(), "file:///tmp/");
  EXPECT_EQ(NSURL::fileURLWithPath("/tmp")->absoluteString(), "file:///tmp/") << "an existing folder";
  EXPECT_EQ(NSURL::fileURLWithPath(""), nullptr);
}

TEST(NSURL, PercentEscapingLeavesOnlyUnreservedCharacters) {
  EXPECT_EQ(percentEscape("aZ09-._~"), "aZ09-._~");
  EXPECT_EQ(percentEscape("a b/c?d=e&f#\xC3\xA9%"), "a%20b%2Fc%3Fd%3De%26f%23%C3%A9%25");
  EXPECT_EQ(percentEscape(std::string("\0x", 2)), "%00x");
  EXPECT_EQ(percentEscape("a/b", "/"), "a/b");

  const std::pair<const char*, const char*> decodes[] = {
      {"a%20b", "a b"}, {"%2541", "%41"}, {"%c3%A9", "\xC3\xA9"}, {"plain", "plain"}, {"", ""},
  };
  for (const auto& [in, out] : decodes) EXPECT_EQ(percentDecode(in).value_or("<bad>"), out) << in;
  for (const char* bad : {"%", "%4", "%G1", "a%2"}) EXPECT_FALSE(percentDecode(bad).has_value()) << bad;
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(percentDecode(percentEscape(all)), all);
}

TEST(NSURL, AppendsPathComponentsBeforeQueryAndFragment) {
  auto url = NSURL::URLWithString("http://h/a?q#f");
  EXPECT_EQ(url->URLByAppendingPathComponent("b c", false)->absoluteString(), "http://h/a/b%20c?q#f");
  EXPECT_EQ(NSURL::URLWithString("http://h")->URLByAppendingPathComponent("x", false)->absoluteString(), "http://h/x");
  EXPECT_EQ(NSURL::URLWithString("http://h/d/")->URLByAppendingPathComponent("/x", true)->absoluteString(),
            "http://h/d/x/");
}

TEST(NSURL, EqualityComparesRelativeTextAndBase) {
  auto base = NSURL::URLWithString("http://h/dir/");
  auto relative = NSURL::URLWithStringRelativeToURL("page", base);
  auto absolute = NSURL::URLWithString("http://h/dir/page");
  EXPECT_EQ(relative->absoluteString(), absolute->absoluteString());
  EXPECT_FALSE(relative->isEqual(*absolute));
  EXPECT_TRUE(relative->isEqual(*NSURL::URLWithStringRelativeToURL("page", NSURL::URLWithString("http://h/dir/"))));
  EXPECT_TRUE(absolute->isEqual(*NSURL::URLWithString("http://h/dir/page")));
  EXPECT_FALSE(absolute->isEqual(*NSURL::URLWithString("HTTP://h/dir/page")));
  EXPECT_TRUE(isEqualURL(nullptr, nullptr));
  EXPECT_FALSE(isEqualURL(absolute, nullptr));
}

TEST(NSURLRequest, KeepsFieldsAndJoinsRepeatedHeaders) {
  auto url = NSURL::URLWithString("http://h/");
  auto plain = NSURLRequest::requestWithURL(url);
  EXPECT_EQ(plain->timeoutInterval(), 60.0);
  EXPECT_EQ(plain->cachePolicy(), NSURLRequestCachePolicy::UseProtocolCachePolicy);
  EXPECT_EQ(plain->HTTPMethod(), "GET");

  auto request = NSMutableURLRequest::requestWithURL(url, NSURLRequestCachePolicy::ReloadIgnoringLocalCacheData, 20);
  request->setValueForHTTPHeaderField("a", "Accept");
  request->addValueForHTTPHeaderField("b", "accept");
  request->addValueForHTTPHeaderField("1", "X-New");
  EXPECT_EQ(request->valueForHTTPHeaderField("ACCEPT").value_or(""), "a,b");
  request->setValueForHTTPHeaderField(std::nullopt, "x-new");
  EXPECT_FALSE(request->valueForHTTPHeaderField("X-New"));
  request->setHTTPMethod("POST");
  auto frozen = request->copy();
  request->setHTTPMethod("PUT");
  EXPECT_EQ(frozen->HTTPMethod(), "POST");
  EXPECT_EQ(frozen->timeoutInterval(), 20);
  EXPECT_EQ(frozen->allHTTPHeaderFields().size(), 1u);
}

class NSURLResourceTest : public plat::testing::SandboxTest {};

TEST_F(NSURLResourceTest, ExclusionFromBackupIsKeptOnTheItem) {
  std::string folder = inHome("Documents/Backups");
  writeFile(folder + "/x", "1");
  auto url = NSURL::fileURLWithPath(folder);
  NSError error;
  if (!url->setResourceValue(Value(true), NSURLIsExcludedFromBackupKey, &error)) {
    if (error.userInfo["NSPOSIXErrorCode"].asInt() == ENOTSUP) GTEST_SKIP() << "no extended attributes here";
    FAIL() << error.description();
  }
  EXPECT_EQ(url->resourceValue(NSURLIsExcludedFromBackupKey).value_or(Value()), Value(true));
  EXPECT_TRUE(url->setResourceValue(Value(false), NSURLIsExcludedFromBackupKey));
  EXPECT_TRUE(url->setResourceValue(Value(false), NSURLIsExcludedFromBackupKey)) << "clearing twice is fine";
  EXPECT_EQ(url->resourceValue(NSURLIsExcludedFromBackupKey).value_or(Value()), Value(false));
  EXPECT_EQ(url->resourceValue(NSURLIsDirectoryKey).value_or(Value()), Value(true));

  auto missing = NSURL::fileURLWithPath(inHome("nope"), false);
  EXPECT_FALSE(missing->setResourceValue(Value(true), NSURLIsExcludedFromBackupKey, &error));
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_FALSE(NSURL::URLWithString("http://h/")->setResourceValue(Value(true), NSURLIsExcludedFromBackupKey));
}
