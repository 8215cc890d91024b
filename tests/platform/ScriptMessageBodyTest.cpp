// A page's script message as the host receives it, through the headless engine's reader: the
// table measured on WebKit (plat/testing/ScriptMessageCases.h), and what only the headless
// engine bounds or has to guard against.
#include "plat/web/ScriptMessageBody.h"

#include <gtest/gtest.h>

#include <cmath>

#include "plat/testing/ScriptMessageCases.h"

using namespace plat;
using plat::testing::describeTyped;
using plat::testing::kNotSent;
using plat::web::ScriptMessageBodyReader;

namespace {

// What arrives of the value of a script expression, or of the last statement's completion.
std::string arrives(ScriptMessageBodyReader& reader, JSContext& js, const std::string& script, bool expression = false) {
  auto value = js.evaluate(expression ? "(" + script + "\n)" : script);
  EXPECT_TRUE(value) << script << ": " << value.error();
  if (!value) return "(script failed)";
  std::optional<Value> body = reader.read(*value);
  return body ? describeTyped(*body) : std::string(kNotSent);
}

TEST(ScriptMessageBody, APageValueArrivesAsWebKitCarriesIt) {
  JSContext js;
  ScriptMessageBodyReader reader(js);
  for (const auto& c : plat::testing::scriptMessageCases()) EXPECT_EQ(arrives(reader, js, c.script, true), c.arrives) << c.script;
}

// A typed array arrives as the values of its elements, not its bytes; a bare buffer as nothing.
TEST(ScriptMessageBody, BinaryDataArrivesAsItsElements) {
  struct Case {
    const char* script;
    Value expected;
  };
  const Case cases[] = {
      {"new Uint8Array([1, 255])", Dictionary{{"0", 1}, {"1", 255}}},
      {"new Int8Array([-1])", Dictionary{{"0", -1}}},
      {"new Uint16Array([300])", Dictionary{{"0", 300}}},
      {"new Float64Array([1.5])", Dictionary{{"0", 1.5}}},
      {"new Uint8Array(new Uint8Array([9, 1, 2]).buffer, 1, 2)", Dictionary{{"0", 1}, {"1", 2}}},
      {"new Uint8Array(0)", Dictionary{}},
      {"new Uint8Array([7, 8]).buffer", Dictionary{}},
      {"new DataView(new ArrayBuffer(2))", Dictionary{}},
      {"({list: [new Uint8Array([9])], n: 1})", Dictionary{{"list", Array{Dictionary{{"0", 9}}}}, {"n", 1}}},
  };
  JSContext js;
  ScriptMessageBodyReader reader(js);
  for (const Case& c : cases) {
    auto result = js.evaluate(c.script);
    ASSERT_TRUE(result) << c.script;
    auto value = reader.read(*result);
    ASSERT_TRUE(value) << c.script;
    EXPECT_EQ(value->description(), c.expected.description()) << c.script;
  }
  // The page's own key order is kept (WebKit's is a hash table's: nothing may rely on either).
  auto ordered = js.evaluate("({z: 1, y: 2, x: 3, 2: 4, 1: 5})");
  ASSERT_TRUE(ordered);
  EXPECT_EQ(reader.read(*ordered)->description(), R"({"1":5,"2":4,"z":1,"y":2,"x":3})");
}

// What a page makes at no cost must not cost the host without bound: past kMaxValues values, or
// kMaxTextBytes of text, the body arrives absent, quickly, whatever shape makes them.
TEST(ScriptMessageBody, AHugeOrDeepBodyArrivesAbsentWithoutExhaustingTheHost) {
  JSContext js;
  ScriptMessageBodyReader reader(js);
  for (const auto& body : plat::testing::hugeScriptMessageBodies())
    EXPECT_EQ(arrives(reader, js, body.script).substr(0, 200), "absent") << body.script;
  EXPECT_EQ(arrives(reader, js, "var a = []; a.length = 4194303; a.length"), "i4194303");
  // At the bound itself the body arrives.
  auto atBound = js.evaluate("var a = []; a.length = 4194303; a");
  ASSERT_TRUE(atBound);
  auto body = reader.read(*atBound);
  ASSERT_TRUE(body && body->isArray());
  EXPECT_EQ(body->asArray().size(), 4194303u);
}

// The reader takes the built-ins as they were when it was made: a page replacing them afterwards
// (or making them throw) changes nothing it reads, and a getter that ends its own object's life
// cannot make the reader use a dead one.
TEST(ScriptMessageBody, ThePageCannotChangeHowItsValuesAreRead) {
  JSContext js;
  ScriptMessageBodyReader reader(js);
  ASSERT_TRUE(js.evaluate(
      "Object.keys = function () { throw new Error('keys'); };"
      "Object.prototype.toString = function () { throw new Error('tag'); };"
      "Date.prototype.toISOString = function () { return 'page'; };"
      "Object.getOwnPropertyDescriptor = function () { return null; };"));
  EXPECT_EQ(arrives(reader, js, "[{a: 1}, new Date(0), new Map(), /x/]"), "[{a:i1},'1970-01-01T00:00:00.000Z',{},{}]");
  EXPECT_EQ(arrives(reader, js,
                    "var n = 0; var o = {get a() { var fresh = {}; for (var i = 0; i < 1000; i++) fresh = {f: fresh};"
                    " return {n: ++n, deep: {x: 1}}; }}; [o, o, o]"),
            "[{a:{deep:{x:i1},n:i1}},{a:{deep:{x:i1},n:i1}},{a:{deep:{x:i1},n:i1}}]");
  auto revoked = js.evaluate("var r = Proxy.revocable({}, {}); r.revoke(); [r.proxy]");
  ASSERT_TRUE(revoked);
  EXPECT_FALSE(reader.read(*revoked)) << "a revoked proxy is a proxy";
}

}  // namespace
