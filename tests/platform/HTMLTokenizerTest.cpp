#include <gtest/gtest.h>

#include <random>

#include "plat/web/HTMLTokenizer.h"

using namespace plat::web;

namespace {

// A compact picture of the tokens: <tag a=v>, </tag>, "text".
std::string summary(std::string_view html) {
  std::string out;
  for (const HTMLToken& t : tokenizeHTML(html)) {
    if (!out.empty()) out += ' ';
    switch (t.kind) {
      case HTMLToken::Kind::StartTag:
        out += "<" + t.name;
        for (const auto& a : t.attributes) out += " " + a.name + "=" + a.value;
        out += t.selfClosing ? "/>" : ">";
        break;
      case HTMLToken::Kind::EndTag: out += "</" + t.name + ">"; break;
      case HTMLToken::Kind::Text: out += "\"" + t.text + "\""; break;
    }
  }
  return out;
}

}  // namespace

TEST(HTMLTokenizerTest, ReadsMarkupAsABrowserWould) {
  struct Case {
    const char* html;
    const char* tokens;
  } cases[] = {
      {"<p>hi</p>", "<p> \"hi\" </p>"},
      {"<SCRIPT SRC='a.js'></SCRIPT>", "<script src=a.js> \"\" </script>"},
      {"<script>if (a < b && c > d) x('</p>');</script>", "<script> \"if (a < b && c > d) x('</p>');\" </script>"},
      {"<script>var s = '</scripts>';</script >x", "<script> \"var s = '</scripts>';\" </script> \"x\""},
      {"<!-- <script>no()</script> --><b>", "<b>"},
      {"<!DOCTYPE html><html lang=en>", "<html lang=en>"},
      {"<div id=\"a\" id=\"b\" data-x='1' hidden>", "<div id=a data-x=1 hidden=>"},
      {"<a href=\"?a=1&amp;b=&#50;&#x33;\">", "<a href=?a=1&b=23>"},
      {"<br/><img src=x />", "<br/> <img src=x/>"},
      {"1 < 2 <3", "\"1 < 2 <3\""},
      {"<title>A &amp; B</title>", "<title> \"A & B\" </title>"},
      {"<style>p{}</style><script>1</script>", "<style> \"p{}\" </style> <script> \"1\" </script>"},
      {"<iframe src=x><script>not()</script></iframe>", "<iframe src=x> \"<script>not()</script>\" </iframe>"},
      {"<noscript><script>no()</script></noscript>", "<noscript> \"<script>no()</script>\" </noscript>"},
      {"<?xml version='1.0'?><p>", "<p>"},
      {"</>text</ 3>", "\"text\""},
      {"<script src=a.js/>after", "<script src=a.js/> \"after\""},
  };
  for (const Case& c : cases) EXPECT_EQ(summary(c.html), c.tokens) << c.html;
}

TEST(HTMLTokenizerTest, UnfinishedMarkupAtTheEndIsDroppedOrKeptAsText) {
  struct Case {
    const char* html;
    const char* tokens;
  } cases[] = {
      {"<p>x<div class='open", "<p> \"x\""},
      {"<script>never closed", "<script> \"never closed\""},
      {"x<!-- open comment", "\"x\""},
      {"x</p", "\"x\""},
      {"x<", "\"x<\""},
      {"&#xZZ; &bogus; &#1114112; &#0;", "\"&#xZZ; &bogus; \xEF\xBF\xBD \xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) EXPECT_EQ(summary(c.html), c.tokens) << c.html;
}

TEST(HTMLTokenizerTest, TokensKnowTheirLines) {
  auto tokens = tokenizeHTML("<html>\n<head>\n<script>\nvar a;\n</script>\n<p id=x>\n");
  ASSERT_GE(tokens.size(), 6u);
  const HTMLToken* script = nullptr;
  const HTMLToken* text = nullptr;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].name == "script" && tokens[i].kind == HTMLToken::Kind::StartTag) {
      script = &tokens[i];
      text = &tokens[i + 1];
    }
  }
  ASSERT_TRUE(script && text);
  EXPECT_EQ(script->line, 3);
  EXPECT_EQ(text->line, 3) << "the text starts right after the tag";
  const HTMLToken& paragraph = tokens[tokens.size() - 2];
  ASSERT_EQ(paragraph.name, "p");
  EXPECT_EQ(paragraph.line, 6);
  ASSERT_NE(paragraph.attribute("id"), nullptr);
  EXPECT_EQ(*paragraph.attribute("id"), "x");
  EXPECT_EQ(paragraph.attribute("class"), nullptr);
}

TEST(HTMLTokenizerTest, ArbitraryBytesNeverBreakIt) {
  std::mt19937 random(7);
  const std::string alphabet = "<>/!-?='\" abcscriptSCRIPT&#;x\n\0\xff";
  for (int round = 0; round < 2000; ++round) {
    std::string html;
    std::size_t n = random() % 64;
    for (std::size_t i = 0; i < n; ++i) html += alphabet[random() % alphabet.size()];
    auto tokens = tokenizeHTML(html);
    for (const auto& t : tokens) EXPECT_GE(t.line, 1);
  }
}

// Markup from the network may be built to make a careless reader take hours; these texts are
// read in a moment when each character is looked at a bounded number of times.
TEST(HTMLTokenizerTest, HostileBulkIsReadWhole) {
  std::string ampersands(8 * 1024 * 1024, '&');
  auto tokens = tokenizeHTML(ampersands + "&amp;");
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].text.size(), ampersands.size() + 1);
  EXPECT_EQ(tokens[0].text.substr(tokens[0].text.size() - 2), "&&");

  constexpr int kAttributes = 200000;
  std::string tag = "<p a0=first";
  for (int i = 1; i < kAttributes; ++i) tag += " a" + std::to_string(i);
  tag += " a0=second>";
  tokens = tokenizeHTML(tag);
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].attributes.size(), static_cast<std::size_t>(kAttributes));
  ASSERT_NE(tokens[0].attribute("a0"), nullptr);
  EXPECT_EQ(*tokens[0].attribute("a0"), "first") << "the first of a repeated name wins";
  EXPECT_EQ(tokens[0].attributes.back().name, "a" + std::to_string(kAttributes - 1));
}
