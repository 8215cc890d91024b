#include "plat/web/JSContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <memory>
#include <thread>

using namespace plat;

namespace plat {
// Readable failure output; internal linkage so other test files may have their own.
[[maybe_unused]] static void PrintTo(const Value& v, std::ostream* os) { *os << v.description(); }
}  // namespace plat

namespace {

Value evalToValue(JSContext& js, const std::string& script) {
  auto result = js.evaluate(script);
  EXPECT_TRUE(result.ok()) << script << ": " << result.error();
  if (!result) return Value();
  auto value = result->toValue();
  EXPECT_TRUE(value.ok()) << script << ": " << value.error();
  return value ? *value : Value();
}

std::string evalToString(JSContext& js, const std::string& script) {
  auto result = js.evaluate(script);
  EXPECT_TRUE(result.ok()) << script << ": " << result.error();
  return result ? result->toString() : std::string();
}

}  // namespace

TEST(JSContext, EvaluationErrorsCarrySourceAndLine) {
  struct Case {
    const char* script;
    const char* url;
    const char* expected;
    int line;
  };
  const Case cases[] = {
      {"1 +", "page.js", "page.js:1: SyntaxError", 1},
      {"var a = 1;\n\nmissing.call()", "page.js", "page.js:3: ReferenceError: Can't find variable: missing", 3},
      {"\n(function(){ throw new TypeError('bad'); })()", "", "line 2: TypeError: bad", 2},
      {"throw 'plain text'", "page.js", "plain text", 0},
      {"throw {toString: function(){ throw 1; }}", "", "exception that cannot be converted to text", 0},
  };
  JSContext js;
  for (const Case& c : cases) {
    JSException exception;
    auto result = js.evaluate(c.script, c.url, 1, &exception);
    ASSERT_FALSE(result.ok()) << c.script;
    EXPECT_EQ(result.error().rfind(c.expected, 0), 0u) << c.script << " gave " << result.error();
    EXPECT_EQ(exception.line, c.line) << c.script;
    EXPECT_EQ(exception.description(), result.error());
  }
  EXPECT_TRUE(js.checkSyntax("var x = 1;").ok());
  EXPECT_FALSE(js.checkSyntax("var = 1;").ok());
  EXPECT_EQ(evalToString(js, "typeof x"), "undefined") << "checking syntax runs nothing";
}

TEST(JSContext, StartingLineNumbersShiftReportedLines) {
  JSContext js;
  JSException e;
  EXPECT_FALSE(js.evaluate("\nnope()", "inline.html", 40, &e).ok());
  EXPECT_EQ(e.line, 41);
  EXPECT_EQ(e.sourceURL, "inline.html");
}

TEST(JSContext, ScriptValuesConvertToPlatformValues) {
  struct Case {
    const char* script;
    Value expected;
  };
  const Case cases[] = {
      {"undefined", Value()},
      {"null", Value::null()},
      {"true", Value(true)},
      {"42", Value(42)},
      {"-7", Value(-7)},
      {"2**53 + 2", Value(std::int64_t{9007199254740994})},
      {"1.5", Value(1.5)},
      {"1e300", Value(1e300)},
      {"2**63", Value(9223372036854775808.0)},
      {"'h\\u00e9'", Value("h\xC3\xA9")},
      {"'a\\0b'", Value(std::string("a\0b", 3))},
      {"'\\ud83d\\ude00'", Value("\xF0\x9F\x98\x80")},
      {"'x\\ud800y'", Value("x\xEF\xBF\xBDy")},
      {"Symbol('s')", Value()},
      {"(function(){})", Value()},
      {"[1,,undefined,null,function(){},'s']", Value(Array{1, Value::null(), Value::null(), Value::null(), Value::null(), "s"})},
      {"({b:1, a:{c:[true]}, u:undefined, f:function(){}})",
       Value(Dictionary{{"b", 1}, {"a", Dictionary{{"c", Array{true}}}}})},
      {"({k:0, 2:'x', 1:'y'})", Value(Dictionary{{"1", "y"}, {"2", "x"}, {"k", 0}})},
      {"Object.create({inherited:1}, {own:{value:2, enumerable:true}, hidden:{value:3}})", Value(Dictionary{{"own", 2}})},
      {"var s = {v:1}; [s, s]", Value(Array{Dictionary{{"v", 1}}, Dictionary{{"v", 1}}})},
      {"new Uint8Array([1,2,3]).buffer", Value(Data{1, 2, 3})},
      {"new Uint8Array(new Uint8Array([9,1,2,3,4]).buffer, 1, 3)", Value(Data{1, 2, 3})},
      {"new Uint16Array([0x0102])", Value(Data{2, 1})},
      {"new ArrayBuffer(0)", Value(Data{})},
      {"new Date(0)", Value("1970-01-01T00:00:00.000Z")},
      {"new Date(NaN)", Value::null()},
  };
  JSContext js;
  for (const Case& c : cases) EXPECT_EQ(evalToValue(js, c.script), c.expected) << c.script;

  Value negativeZero = evalToValue(js, "-0");
  ASSERT_TRUE(negativeZero.isDouble()) << "-0 is not the integer 0";
  EXPECT_TRUE(std::signbit(negativeZero.asDouble()));
  EXPECT_TRUE(std::isnan(evalToValue(js, "NaN").asDouble()));
}

TEST(JSContext, UnconvertibleValuesAreErrorsNotCrashes) {
  struct Case {
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"var o = {}; o.self = o; o", "cyclic"},
      {"var a = [1]; a.push([a]); a", "cyclic"},
      {"var big = []; big.length = 4294967295; big", "too long"},
      // Short arrays, one value too many in all: the whole value is too large, not the array.
      {"var a = [1]; for (var i = 0; i < 22; i++) a = [a, a]; a", "value too large to convert (more than 4194304"},
      // One MiB of text 300 times over: too much text in all.
      {"var s = 'x'.repeat(1 << 20); var a = []; for (var i = 0; i < 300; i++) a.push(s); a", "bytes of text"},
      {"10n", "BigInt"},
      {"JSON.parse('['.repeat(600) + ']'.repeat(600))", "nested deeper"},
      {"({get x() { throw new Error('getter refused'); }})", "getter refused"},
      {"[{get x() { throw new RangeError('deep'); }}]", "RangeError: deep"},
  };
  JSContext js;
  for (const Case& c : cases) {
    auto result = js.evaluate(c.script);
    ASSERT_TRUE(result.ok()) << c.script << ": " << result.error();
    auto value = result->toValue();
    ASSERT_FALSE(value.ok()) << c.script;
    EXPECT_NE(value.error().find(c.error), std::string::npos) << c.script << " gave " << value.error();
  }
}

TEST(JSContext, PlatformValuesRoundTripThroughScript) {
  Value original(Dictionary{
      {"z", 1},
      {"a", Array{Value::null(), true, 2.5, "t\xC3\xA9xt", Data{0, 255, 7}}},
      {"nested", Dictionary{{"empty", Array{}}, {"dict", Dictionary{}}}},
      {"big", std::int64_t{1} << 40},
  });
  JSContext js;
  JSValue v = js.makeValue(original);
  auto back = v.toValue();
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(*back, original);

  ASSERT_TRUE(js.setValueAtPath("probe", v).ok());
  EXPECT_EQ(evalToString(js, "Object.keys(probe).join()"), "z,a,nested,big") << "key order survives";
  EXPECT_EQ(evalToString(js, "probe.a[4] instanceof ArrayBuffer && probe.a[4].byteLength"), "3");
  EXPECT_EQ(evalToString(js, "new Uint8Array(probe.a[4])[1]"), "255");
  EXPECT_TRUE(js.makeValue(Value()).isUndefined());
}

TEST(JSContext, ProtoKeyStaysAnOwnPropertyAndLeavesThePrototypeAlone) {
  JSContext js;
  JSValue v = js.makeValue(Value(Dictionary{{"__proto__", Dictionary{{"polluted", true}}}, {"x", 1}}));
  ASSERT_TRUE(js.setValueAtPath("probe", v).ok());
  EXPECT_EQ(evalToString(js, "Object.getPrototypeOf(probe) === Object.prototype"), "true");
  EXPECT_EQ(evalToString(js, "probe.polluted"), "undefined");
  EXPECT_EQ(evalToString(js, "Object.keys(probe).join()"), "__proto__,x");
}

TEST(JSContext, NativeFunctionsBehaveLikeScriptFunctions) {
  JSContext js;
  auto sum = [](const Array& args) {
    double total = 0;
    for (const Value& a : args) total += a.asDouble();
    return Value(total);
  };
  ASSERT_TRUE(js.defineFunction("math.ops.sum", sum).ok());
  ASSERT_TRUE(js.defineFunction("top", [](const Array&) { return Value("top"); }).ok());
  struct Case {
    const char* script;
    const char* expected;
  };
  const Case cases[] = {
      {"math.ops.sum(1, 2, 3.5)", "6.5"},
      {"typeof math.ops.sum", "function"},
      {"math.ops.sum.name", "sum"},
      {"math.ops.sum.call(null, 4, 5)", "9"},
      {"math.ops.sum.apply(null, [1, 1])", "2"},
      {"math.ops.sum.bind(null, 10)(1)", "11"},
      {"top()", "top"},
      {"String(top() === top())", "true"},
  };
  for (const Case& c : cases) EXPECT_EQ(evalToString(js, c.script), c.expected) << c.script;
}

TEST(JSContext, NativeFailuresBecomeCatchableScriptErrors) {
  JSContext js;
  int calls = 0;
  ASSERT_TRUE(js.defineFunction("refuse", [](const Array&) -> Value { throw JSError("refused by native"); }).ok());
  ASSERT_TRUE(js.defineFunction("crash", [](const Array&) -> Value { throw std::runtime_error("native broke"); }).ok());
  ASSERT_TRUE(js.defineFunction("take", [&](const Array&) {
                  ++calls;
                  return Value();
                }).ok());
  struct Case {
    const char* script;
    const char* expected;
  };
  const Case cases[] = {
      {"try { refuse() } catch (e) { (e instanceof Error) + ':' + e.message }", "true:refused by native"},
      {"try { crash() } catch (e) { e.message }", "native broke"},
      {"var c = {}; c.c = c; try { take(1, c) } catch (e) { e.name + ':' + e.message }",
       "TypeError:argument 2 cannot be passed to native code: cyclic structure cannot be converted to a native value"},
  };
  for (const Case& c : cases) EXPECT_EQ(evalToString(js, c.script), c.expected) << c.script;
  EXPECT_EQ(calls, 0) << "a function whose arguments cannot be converted does not run";
  auto uncaught = js.evaluate("refuse()", "x.js");
  ASSERT_FALSE(uncaught.ok());
  EXPECT_NE(uncaught.error().find("refused by native"), std::string::npos);
}

TEST(JSContext, CallbacksKeepScriptFunctionsAliveAcrossCollections) {
  JSContext js;
  JSValue kept;
  ASSERT_TRUE(js.defineFunction("later", JSContext::NativeCallback([&](JSContext& context, const JSValue&,
                                                                       const JSValueList& args) {
                                  kept = args.at(0);
                                  return context.undefined();
                                }))
                  .ok());
  ASSERT_TRUE(js.evaluate("var hits = 0; later(function(n) { hits += n; return 'called ' + hits; });").ok());
  ASSERT_TRUE(js.evaluate("later = null;").ok());
  js.garbageCollect();
  ASSERT_TRUE(kept.isFunction());
  auto r = kept.callWithArguments({5});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->toString(), "called 5");
  auto r2 = kept.call({js.makeNumber(2)});
  EXPECT_EQ(r2->toString(), "called 7");
}

TEST(JSContext, CallsReportExceptionsAndRefuseNonFunctions) {
  JSContext js;
  auto fn = js.evaluate("(function(a) { if (a) throw new Error('asked to fail'); return this === globalThis; })");
  ASSERT_TRUE(fn.ok());
  EXPECT_TRUE(fn->call({})->toBool()) << "undefined this means the global object";
  JSException e;
  auto failed = fn->call({js.makeBool(true)}, JSValue(), &e);
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(e.message.find("asked to fail"), std::string::npos);
  EXPECT_FALSE(js.makeString("not callable").call().ok());
  auto ctor = js.evaluate("(function Point(x) { this.x = x; })");
  auto point = ctor->construct({js.makeNumber(3)});
  ASSERT_TRUE(point.ok());
  EXPECT_EQ(point->property("x").toNumber(), 3);
}

TEST(JSContext, PathsCreateObjectsButRefuseToWalkThroughScalars) {
  JSContext js;
  ASSERT_TRUE(js.setValueAtPath("window.webkit.flag", Value(true)).ok());
  EXPECT_EQ(evalToString(js, "String(window.webkit.flag)"), "true");
  EXPECT_TRUE(js.valueAtPath("window.webkit.flag").toBool());
  EXPECT_TRUE(js.valueAtPath("window.nothing.here").isUndefined());
  ASSERT_TRUE(js.evaluate("var scalar = 3;").ok());
  auto refused = js.setValueAtPath("scalar.inner", Value(1));
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.error().find("not an object"), std::string::npos);
  EXPECT_FALSE(js.setValueAtPath("a..b", Value(1)).ok());
  EXPECT_FALSE(js.setValueAtPath("", Value(1)).ok());
}

TEST(JSContext, PropertiesJSONAndKinds) {
  JSContext js;
  JSValue obj = js.makeObject();
  EXPECT_TRUE(obj.setProperty("n", Value(1)));
  EXPECT_TRUE(obj.setProperty("s", js.makeString("two")));
  EXPECT_TRUE(obj.hasProperty("n"));
  EXPECT_EQ(obj.propertyNames(), (std::vector<std::string>{"n", "s"}));
  EXPECT_EQ(*obj.toJSON(), R"({"n":1,"s":"two"})");
  EXPECT_TRUE(obj.deleteProperty("n"));
  EXPECT_FALSE(obj.hasProperty("n"));
  EXPECT_FALSE(js.makeNumber(1).setProperty("x", Value(1))) << "numbers have no properties to set";

  auto parsed = js.parseJSON(R"([1,{"a":"b"}])");
  ASSERT_TRUE(parsed.ok());
  EXPECT_TRUE(parsed->isArray());
  EXPECT_EQ(parsed->at(1).property("a").toString(), "b");
  EXPECT_FALSE(js.parseJSON("{nope").ok());
  EXPECT_FALSE(js.evaluate("var cyc = {}; cyc.c = cyc; cyc")->toJSON().ok());

  JSValue buffer = js.makeValue(Value(Data{1}));
  EXPECT_TRUE(buffer.isArrayBuffer());
  EXPECT_FALSE(buffer.isTypedArray());
  EXPECT_TRUE(js.evaluate("new Int8Array(2)")->isTypedArray());
  EXPECT_TRUE(js.null().isNull());
  EXPECT_TRUE(js.evaluate("[]")->isArray());
  EXPECT_TRUE(js.evaluate("'s'")->isString());
  EXPECT_TRUE(js.makeError("boom").property("message").toString() == "boom");
  EXPECT_TRUE(js.makeArray({js.makeNumber(1), js.makeString("b")}).toJSON().ok());
  EXPECT_EQ(*js.makeArray({js.makeNumber(1), js.makeString("b")}).toJSON(), R"([1,"b"])");
}

TEST(JSContext, HandlesOutlivingTheirContextGoInert) {
  JSValue survivor;
  auto sentinel = std::make_shared<int>(0);
  {
    JSContext js;
    survivor = *js.evaluate("({ a: 1 })");
    // A native function whose capture holds a handle and a native object: both must be released
    // when the context goes, without touching the dead engine.
    JSValue captured = *js.evaluate("[1, 2]");
    ASSERT_TRUE(js.defineFunction("holder", JSContext::NativeCallback([captured, sentinel](JSContext& c, const JSValue&,
                                                                                          const JSValueList&) {
                                    return captured;
                                  }))
                    .ok());
    EXPECT_EQ(evalToString(js, "holder().length"), "2");
    EXPECT_GT(sentinel.use_count(), 1);
  }
  EXPECT_EQ(sentinel.use_count(), 1) << "the native function's data is freed with its context";
  EXPECT_FALSE(survivor.isValid());
  EXPECT_TRUE(survivor.isUndefined());
  EXPECT_EQ(survivor.context(), nullptr);
  EXPECT_TRUE(survivor.property("a").isUndefined());
  EXPECT_TRUE(survivor.toValue()->isAbsent());
  EXPECT_FALSE(survivor.call().ok());
  JSValue copy = survivor;  // copying an inert handle is harmless
  EXPECT_FALSE(copy.isValid());
}

TEST(JSContext, ValuesOfAnotherContextAreNotMixedIn) {
  JSContext one, two;
  JSValue foreign = one.makeString("from one");
  JSValue target = two.makeObject();
  EXPECT_FALSE(target.setProperty("x", foreign));
  ASSERT_TRUE(two.defineFunction("leak", JSContext::NativeCallback([&](JSContext&, const JSValue&, const JSValueList&) {
                    return foreign;
                  }))
                  .ok());
  EXPECT_EQ(evalToString(two, "typeof leak()"), "undefined");
}

TEST(JSContext, ManyShortLivedFunctionsAndValuesAreReclaimed) {
  // Under the sanitizers this proves that finalized native functions are freed on the
  // context's thread and that protection counts balance.
  JSContext js;
  for (int i = 0; i < 2000; ++i) {
    JSValue f = js.makeFunction("f", [i](const Array&) { return Value(i); });
    JSValue copy = f;
    JSValue moved = std::move(copy);
    EXPECT_TRUE(moved.isFunction());
  }
  js.garbageCollect();
  EXPECT_EQ(evalToString(js, "1 + 1"), "2");
}

TEST(JSContext, StopAllScriptsEndsARunawayScriptFromAnotherThread) {
  JSContext js;
  // The stop comes from another thread once the script is in its endless loop, as a signal's
  // or a timer's thread would send it; catching the stop only loops again.
  std::promise<void> spinning;
  js.defineFunction("spinning", [&](const Array&) {
    spinning.set_value();
    return Value();
  });
  std::thread stopper([&] {
    spinning.get_future().wait();
    JSContext::stopAllScripts();
  });
  auto result = js.evaluate("spinning(); try { while (true) {} } catch (e) { while (true) {} }");
  stopper.join();
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(JSContext::scriptsStopped());

  // Short scripts still finish; a long one started afterwards is stopped too.
  EXPECT_EQ(evalToValue(js, "6 * 7"), Value(42));
  EXPECT_FALSE(JSContext().evaluate("for (;;) {}").ok());

  JSContext::resetStopAllScripts();
  EXPECT_EQ(evalToValue(js, "var n = 0; for (var i = 0; i < 3e6; i++) n += 1; n"), Value(3000000));
}
