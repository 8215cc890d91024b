#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "plat/foundation/JSON.h"
#include "plat/foundation/Strings.h"

using namespace plat;

TEST(Value, AbsentIsDistinctFromNullAndKindsAreReported) {
  Value absent, null = Value::null();
  EXPECT_TRUE(absent.isAbsent());
  EXPECT_FALSE(absent.isNull());
  EXPECT_TRUE(null.isNull());
  EXPECT_NE(absent, null);
  EXPECT_TRUE(Value(true).isNumber()) << "booleans are numbers";
  EXPECT_TRUE(Value(3).isNumber());
  EXPECT_TRUE(Value(2.5).isNumber());
  EXPECT_FALSE(Value("3").isNumber());
  EXPECT_EQ(Value(std::uint64_t{7}).type(), Value::Type::UInt);
  EXPECT_EQ(Value(-7).type(), Value::Type::Int);
  EXPECT_EQ(Value(1e30).asInt(), INT64_MAX) << "saturates rather than overflowing";
  EXPECT_EQ(Value(std::nan("")).asInt(), 0);
}

TEST(Value, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
  Dictionary d{{"b", 1}, {"a", 2}};
  d.set("b", 3);
  d.set("c", 4);
  std::vector<std::string> keys;
  for (auto& [k, v] : d) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(d.get("b"), Value(3));
  EXPECT_TRUE(d.get("zz").isAbsent());
  EXPECT_TRUE(d.erase("a"));
  EXPECT_FALSE(d.erase("a"));
}

TEST(Value, LargeDictionariesKeepOrderThroughSetsErasesAndCopies) {
  // Small dictionaries are scanned, large ones hashed: the same answers either side of the
  // change, and after erasing, replacing and copying.
  for (int n : {3, 8, 9, 17, 1000}) {
    Dictionary d;
    for (int i = 0; i < n; ++i) d.set("k" + std::to_string(i), i);
    for (int i = 0; i < n; i += 2) d.set("k" + std::to_string(i), -i);  // in place
    for (int i = 1; i < n; i += 3) EXPECT_TRUE(d.erase("k" + std::to_string(i)));
    d["late"] = Value("x");
    Dictionary copy = d;
    Dictionary moved = std::move(copy);
    std::vector<std::string> expectedKeys;
    for (int i = 0; i < n; ++i)
      if (i % 3 != 1) expectedKeys.push_back("k" + std::to_string(i));
    expectedKeys.push_back("late");
    for (const Dictionary* dict : {&d, &moved}) {
      std::vector<std::string> keys;
      for (const auto& [k, v] : *dict) keys.push_back(k);
      EXPECT_EQ(keys, expectedKeys) << n;
      for (int i = 0; i < n; ++i) {
        const Value& v = dict->get("k" + std::to_string(i));
        if (i % 3 == 1) EXPECT_TRUE(v.isAbsent()) << n << " k" << i;
        else EXPECT_EQ(v, Value(i % 2 ? i : -i)) << n << " k" << i;
      }
      EXPECT_EQ(dict->get("late"), Value("x"));
      EXPECT_FALSE(dict->contains("k" + std::to_string(n)));
    }
    EXPECT_TRUE(d == moved);
  }
}

TEST(Json, ReadsWhatItWritesAndKeepsKeyOrder) {
  struct Case {
    const char* text;
    bool fragments;
    const char* expected;  // nullptr: refused
  };
  const Case cases[] = {
      {R"([1,-2,3.5,"x",true,null,{"z":1,"a":[]}])", false, R"([1,-2,3.5,"x",true,null,{"z":1,"a":[]}])"},
      {R"({"k":"\u00e9\ud83d\ude00"})", false, "{\"k\":\"\xC3\xA9\xF0\x9F\x98\x80\"}"},
      {"18446744073709551615", true, "18446744073709551615"},
      {"\"abc\"", true, "\"abc\""},
      {"\"abc\"", false, nullptr},
      {"3", false, nullptr},
      {"[1,", false, nullptr},
      {"[1] x", false, nullptr},
      {"", false, nullptr},
      {"[NaN]", false, nullptr},
  };
  for (const auto& c : cases) {
    auto v = json::parse(c.text, {.allowFragments = c.fragments});
    if (!c.expected) {
      EXPECT_FALSE(v) << c.text;
      continue;
    }
    ASSERT_TRUE(v) << c.text << ": " << v.error();
    auto back = json::write(*v, {.allowFragments = true});
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, c.expected);
  }
}

TEST(Json, RefusesWhatJsonCannotHold) {
  const Value refused[] = {
      Array{std::numeric_limits<double>::quiet_NaN()},
      Array{std::numeric_limits<double>::infinity()},
      Array{Dictionary{{"d", Data{1, 2}}}},
  };
  for (const auto& v : refused) EXPECT_FALSE(json::write(v)) << v.description();
  EXPECT_FALSE(json::write(Value("top-level scalar")));
  EXPECT_TRUE(json::write(Value("top-level scalar"), {.allowFragments = true}));
}

TEST(Json, EscapesSoThatTheTextStaysOneScriptLiteral) {
  auto out = json::write(Array{std::string("a\"b\\c\n\x01</script>\xE2\x80\xA8")});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, R"(["a\"b\\c\n\u0001</script>\u2028"])");
}

TEST(Json, ReplacesInvalidUtf8BothWays) {
  auto parsed = json::parse("[\"a\xFF" "b\"]");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->at(0).asString(), "a\xEF\xBF\xBD" "b");
  auto written = json::write(Array{std::string("x\xC0y")});
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, "[\"x\xEF\xBF\xBDy\"]");
  EXPECT_EQ(json::quotedLength("x\xC0y"), written->size() - 2);
}

TEST(Json, LoneSurrogateEscapesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600, \ud83d\ude00
  struct Case {
    std::string json;
    std::string expected;
  } cases[] = {
      {R"(["\ud83d"])", fffd},
      {R"(["\ude00"])", fffd},
      {R"(["a\ud83dz"])", "a" + fffd + "z"},
      {R"(["\ud83d\ude00"])", smile},
      {R"(["\uD83D\uDE00\ud83d"])", smile + fffd},
      {R"(["\ud83d\ud83d\ude00"])", fffd + smile},          // a high half before a whole pair
      {R"(["\ude00\ud83d"])", fffd + fffd},                 // the halves the wrong way round
      {R"(["\ud83d\n"])", fffd + "\n"},                     // followed by another escape
      {R"(["\\ud83d"])", "\\ud83d"},                        // an escaped backslash, no escape
      {R"(["\\\ud83d"])", "\\" + fffd},
      {R"(["\u0041\u00e9"])", "A\xC3\xA9"},
  };
  for (const auto& c : cases) {
    auto parsed = json::parse(c.json);
    ASSERT_TRUE(parsed) << c.json << ": " << parsed.error();
    EXPECT_EQ(parsed->at(0).asString(), c.expected) << c.json;
  }
  // In a key and among other values: nothing else of the text is lost.
  auto batch = json::parse(R"([{"\ud800k": 1}, ["cb1", "Echo", "echo", ["\udbff"]], ["cb2", "Echo", "echo", ["ok"]]])");
  ASSERT_TRUE(batch) << batch.error();
  EXPECT_EQ(batch->at(0).asDictionary().begin()->first, fffd + "k");
  EXPECT_EQ(batch->at(1).at(3).at(0).asString(), fffd);
  EXPECT_EQ(batch->at(2).at(3).at(0).asString(), "ok");
  // A cut-off escape is still an error.
  EXPECT_FALSE(json::parse(R"(["\ud83)"));
}

TEST(Json, RefusesHostileNesting) {
  std::string deep(100000, '[');
  EXPECT_FALSE(json::parse(deep));
  std::string ok = std::string(100, '[') + std::string(100, ']');
  EXPECT_TRUE(json::parse(ok));
}

// The writer stops where the reader stops, so that nothing it writes is unreadable.
// Containers and scalars count alike, at any depth; the bound is exact.
TEST(Json, RefusesTextsOfMoreValuesThanAsked) {
  const struct {
    const char* text;
    std::size_t values;
  } cases[] = {{"[]", 1}, {"[1, 2]", 3}, {"{\"a\": [null, {}]}", 4}, {"\"x\"", 1}, {"[[[[1]]]]", 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(json::parse(c.text, {.allowFragments = true, .maxValues = c.values}));
    if (c.values > 1) EXPECT_FALSE(json::parse(c.text, {.allowFragments = true, .maxValues = c.values - 1}));
    EXPECT_TRUE(json::parse(c.text, {.allowFragments = true})) << "no bound by default";
  }
  auto refused = json::parse("[1, 2, 3]", {.maxValues = 3});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "JSON text holds too many values");
}

TEST(Json, WritesExactlyTheNestingItReads) {
  for (bool dictionaries : {false, true}) {
    for (std::size_t levels : {json::kMaxDepth - 1, json::kMaxDepth, json::kMaxDepth + 1}) {
      SCOPED_TRACE(std::to_string(levels) + (dictionaries ? " dictionaries" : " arrays"));
      Value v = Value("leaf");
      for (std::size_t i = 0; i < levels; ++i) v = dictionaries ? Value(Dictionary{{"d", v}}) : Value(Array{v});
      auto written = json::write(v);
      EXPECT_EQ(written.ok(), levels <= json::kMaxDepth);
      std::string text = written ? *written : std::string();
      if (!written) {
        EXPECT_NE(written.error().find("deeper than 512 levels"), std::string::npos) << written.error();
        continue;
      }
      auto read = json::parse(text);
      ASSERT_TRUE(read) << read.error();
      EXPECT_EQ(*read, v);
    }
  }
}

TEST(Json, CutsAnArrayIntoItsElementsWithoutReadingThem) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  struct Case {
    std::string text;
    std::optional<std::vector<std::string>> elements;
  };
  const Case cases[] = {
      {" [ 1 , \"a,]\\\"\" ,{\"k\":[1,2]}, [[]] ] ", std::vector<std::string>{"1", "\"a,]\\\"\"", "{\"k\":[1,2]}", "[[]]"}},
      {"[]", std::vector<std::string>{}},
      {"[ ]", std::vector<std::string>{}},
      {"[1,,tru]", std::vector<std::string>{"1", "", "tru"}},
      // Nesting far past what the reader takes: cut all the same, in linear time.
      {"[\"id\"," + deep + ",3]", std::vector<std::string>{"\"id\"", deep, "3"}},
      {"{\"a\":1}", std::nullopt},
      {"[1,2", std::nullopt},
      {"[\"open]", std::nullopt},
      {"[1]]", std::nullopt},
      {"[1] x", std::nullopt},
      {"[1}", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    auto got = json::arrayElementTexts(c.text);
    ASSERT_EQ(got.has_value(), c.elements.has_value()) << c.text.substr(0, 80);
    if (!got) continue;
    std::vector<std::string> texts(got->begin(), got->end());
    EXPECT_EQ(texts, *c.elements) << c.text.substr(0, 80);
  }
}

TEST(Json, PrettyDictionaryUsesTwoSpacesAndSpacedColons) {
  auto out = json::write(Dictionary{{"a", 1}, {"b", Array{true}}}, {.pretty = true});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "{\n  \"a\" : 1,\n  \"b\" : [\n    true\n  ]\n}");
}

TEST(Strings, Utf16LengthCountsCodeUnits) {
  struct Case {
    std::string text;
    std::size_t units;
  };
  const Case cases[] = {{"", 0}, {"abc", 3}, {"\xC3\xA9", 1}, {"\xE2\x82\xAC", 1}, {"\xF0\x9F\x98\x80", 2}};
  for (const auto& c : cases) EXPECT_EQ(utf16Length(c.text), c.units) << c.text;
}

TEST(Strings, DecodesOneUtf8SequenceOrNone) {
  struct Case {
    std::string text;
    std::uint32_t codePoint;
    std::size_t length;  // 0: not a well-formed sequence
  };
  const Case cases[] = {
      {"A", 'A', 1},
      {"\xC3\xA9x", 0xE9, 2},
      {"\xE2\x82\xAC", 0x20AC, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      {"\x80", 0, 0},              // a continuation byte alone
      {"\xC0\xAF", 0, 0},         // overlong "/"
      {"\xE0\x80\xAF", 0, 0},    // overlong, three bytes
      {"\xED\xA0\x80", 0, 0},    // a surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // past U+10FFFF
      {"\xE2\x82", 0, 0},         // cut short
      {"\xE2(\xAC", 0, 0},        // a continuation byte missing
  };
  for (const Case& c : cases) {
    UTF8Sequence sequence = decodeUTF8(c.text, 0);
    EXPECT_EQ(sequence.length, c.length) << c.text;
    if (c.length) {
      EXPECT_EQ(sequence.codePoint, c.codePoint) << c.text;
    }
  }
}

TEST(Strings, Base64IsStrict) {
  EXPECT_EQ(base64Encode(std::string_view("abc")), "YWJj");
  EXPECT_EQ(base64Encode(std::string_view("ab")), "YWI=");
  EXPECT_EQ(base64Encode(std::string_view("a")), "YQ==");
  struct Case {
    const char* text;
    const char* decoded;  // nullptr: refused
  };
  const Case cases[] = {{"YWJj", "abc"}, {"YWI=", "ab"}, {"YQ==", "a"}, {"", ""},   {"YWJ", nullptr},
                        {"Y===", nullptr}, {"YW=j", nullptr}, {"YW J", nullptr}, {"YW\nJj", nullptr}, {"=YWJ", nullptr}};
  for (const auto& c : cases) {
    auto d = base64Decode(c.text);
    if (!c.decoded) {
      EXPECT_FALSE(d) << c.text;
    } else {
      ASSERT_TRUE(d) << c.text;
      EXPECT_EQ(std::string(d->begin(), d->end()), c.decoded);
    }
  }
}

TEST(Strings, VersionsCompareNumerically) {
  EXPECT_LT(compareVersions("7.1.2", "8.0"), 0);
  EXPECT_GT(compareVersions("10.0", "9.3"), 0);
  EXPECT_EQ(compareVersions("8", "8.0.0"), 0);
  EXPECT_GT(compareVersions("8.0.1", "8.0"), 0);
}

// The fast paths for long texts (runs copied whole, ASCII checked eight bytes at a time, Base64
// two characters per lookup) must agree with the plain rules wherever the special byte falls.
TEST(Strings, FastPathsAgreeWithThePlainRulesAtEveryOffset) {
  auto plainQuote = [](std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '"') out += "\\\"";
      else if (c == '\\') out += "\\\\";
      else if (c == '\n') out += "\\n";
      else if (c == 0x01) out += "\\u0001";
      else if (c == 0xE2 && text.substr(i, 3) == "\xE2\x80\xA8") { out += "\\u2028"; i += 2; }
      else out += static_cast<char>(c);
    }
    return out + "\"";
  };
  for (const std::string special : {"\"", "\\", "\n", "\x01", "\xE2\x80\xA8", "\xE2\x82\xAC", "\xC3\xA9"}) {
    for (std::size_t at = 0; at < 20; ++at) {
      std::string text = std::string(at, 'a') + special + std::string(19 - at, 'b');
      std::string quoted;
      json::appendQuoted(quoted, text);
      EXPECT_EQ(quoted, plainQuote(text)) << at;
      EXPECT_EQ(json::quotedLength(text), quoted.size()) << at;
      EXPECT_TRUE(isValidUTF8(text)) << at;
      EXPECT_FALSE(isValidUTF8(text.substr(0, at) + "\xFF" + text.substr(at))) << at;
    }
  }
  for (std::size_t length = 0; length < 40; ++length) {
    Data bytes;
    for (std::size_t i = 0; i < length; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 97 + 250));
    std::string encoded = base64Encode(bytes);
    EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4);
    EXPECT_EQ(base64Decode(encoded), bytes) << length;
  }
  EXPECT_EQ(base64Encode(std::string_view("foobar")), "Zm9vYmFy");
  EXPECT_EQ(base64Encode(std::string_view("fooba")), "Zm9vYmE=");
  EXPECT_EQ(base64Encode(std::string_view("foob")), "Zm9vYg==");
}
