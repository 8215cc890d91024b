#include "plat/testing/ScriptMessageCases.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plat::testing {

std::string describeTyped(const Value& v) {
  using T = Value::Type;
  switch (v.type()) {
    case T::Absent: return "absent";
    case T::Null: return "null";
    case T::Bool: return v.asBool() ? "true" : "false";
    case T::Int: return "i" + std::to_string(v.asInt());
    case T::UInt: return "u" + std::to_string(v.asUInt());
    case T::Double: {
      double d = v.asDouble();
      if (std::isnan(d)) return "dNaN";
      if (std::isinf(d)) return d > 0 ? "dinf" : "d-inf";
      if (d == 0 && std::signbit(d)) return "d-0";
      char text[40];
      std::snprintf(text, sizeof text, "d%.17g", d);
      return text;
    }
    case T::String: {
      std::string out = "'";
      for (unsigned char c : v.asString()) {
        if (c < 0x20 || c >= 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
      }
      return out + "'";
    }
    case T::Data: return "<" + std::to_string(v.asData().size()) + " bytes>";
    case T::Array: {
      std::string out = "[";
      for (const Value& item : v.asArray()) out += (out.size() > 1 ? "," : "") + describeTyped(item);
      return out + "]";
    }
    case T::Dictionary: {
      std::vector<std::string> entries;
      for (const auto& [key, item] : v.asDictionary()) entries.push_back(key + ":" + describeTyped(item));
      std::sort(entries.begin(), entries.end());
      std::string out = "{";
      for (const std::string& entry : entries) out += (out.size() > 1 ? "," : "") + entry;
      return out + "}";
    }
  }
  return "?";
}

namespace {

// `levels` containers around 1, each made by `wrap` ("[a]" or "{a: a}").
std::string nested(int levels, const char* wrap) {
  return "(function () { var a = 1; for (var i = 0; i < " + std::to_string(levels) + "; i++) a = " + wrap +
         "; return a; })()";
}
std::string nestedArrays(int levels) {
  return std::string(static_cast<std::size_t>(levels), '[') + "i1" + std::string(static_cast<std::size_t>(levels), ']');
}
std::string nestedObjects(int levels) {
  std::string out;
  for (int i = 0; i < levels; ++i) out += "{a:";
  return out + "i1" + std::string(static_cast<std::size_t>(levels), '}');
}

std::vector<ScriptMessageCase> makeCases() {
  std::vector<ScriptMessageCase> cases = {
      // A whole body that is a number or text arrives as itself.
      {"NaN", "dNaN"},
      {"-0", "d-0"},
      {"Infinity", "dinf"},
      {"-Infinity", "d-inf"},
      {"7", "i7"},
      {"1.5", "d1.5"},
      {"9007199254740992", "d9007199254740992"},
      {"undefined", "absent"},
      {"null", "null"},
      {"true", "true"},
      {"'text'", "'text'"},
      {"'\\ud800x'", "'\\xef\\xbf\\xbdx'"},
      {"'a\\ud800b\\u0000c'", "'a\\xef\\xbf\\xbdb\\x00c'"},
      {"new Date(0)", "'1970-01-01T00:00:00.000Z'"},
      {"1n", "absent"},
      {"function () {}", kNotSent},
      {"Symbol('s')", kNotSent},
      {"new Uint8Array([1, 2])", "{0:i1,1:i2}"},
      {"new ArrayBuffer(2)", "{}"},
      {"new String('ab')", "{0:'a',1:'b'}"},

      // Numbers inside it, as JSON reads them.
      {"[NaN, Infinity, -Infinity, -0]", "[null,null,null,i0]"},
      {"[9007199254740992, 9007199254740994, 1e21, 2 ** 64, -(2 ** 63), 2 ** 63, 12345678901234567890]",
       "[i9007199254740992,i9007199254740994,d1e+21,d1.8446744073709552e+19,d-9.2233720368547758e+18,"
       "u9223372036854776000,u12345678901234567000]"},
      {"[0.1, 5e-324, 1e-7, 4294967295, -2147483648, 1.7976931348623157e308]",
       "[d0.10000000000000001,d4.9406564584124654e-324,d9.9999999999999995e-08,i4294967295,i-2147483648,"
       "d1.7976931348623157e+308]"},
      {"({nested: {deep: [1, {x: undefined, y: null, z: NaN}]}})", "{nested:{deep:[i1,{y:null,z:null}]}}"},

      // Undefined members, holes, sparse arrays.
      {"({a: undefined, b: 1})", "{b:i1}"},
      {"[undefined, 1]", "[null,i1]"},
      {"[1, , 3]", "[i1,null,i3]"},
      {"(function () { var a = []; a[3] = 1; return a; })()", "[null,null,null,i1]"},
      {"(function () { var a = [1]; a.x = 2; a[-1] = 3; return a; })()", "[i1]"},
      {"[1n, 2]", "[null,i2]"},
      {"({a: 1n, b: 2})", "{b:i2}"},

      // Typed arrays and buffers, nested.
      {"({t: [new Uint8Array([1, 2])]})", "{t:[{0:i1,1:i2}]}"},
      {"[new Float64Array([NaN, Infinity, -0, 1.5])]", "[{0:null,1:null,2:i0,3:d1.5}]"},
      {"[new Uint8Array([1, 2, 3, 4]).subarray(1, 3)]", "[{0:i2,1:i3}]"},
      {"[new Int8Array([-1]), new Uint8ClampedArray([300]), new Float32Array([0.1]), new Uint16Array([300]),"
       " new Uint32Array([4294967295])]",
       "[{0:i-1},{0:i255},{0:d0.10000000149011612},{0:i300},{0:i4294967295}]"},
      {"[new BigInt64Array([1n]), new BigUint64Array([1n, 2n])]", "[{},{}]"},
      {"[new ArrayBuffer(2), new DataView(new ArrayBuffer(2)), new Uint8Array(0)]", "[{},{},{}]"},
      {"(function () { var a = new Uint8Array([5, 6]); a.extra = 1; return [a]; })()", "[{0:i5,1:i6}]"},

      // Dates, whatever else they carry.
      {"[new Date(0), new Date(NaN), new Date(8.64e15), new Date(-1), new Date(-62198755200001)]",
       "['1970-01-01T00:00:00.000Z',null,'+275760-09-13T00:00:00.000Z','1969-12-31T23:59:59.999Z',"
       "'-000002-12-31T23:59:59.999Z']"},
      {"(function () { var d = new Date(0); d.extra = 1; return [d]; })()", "['1970-01-01T00:00:00.000Z']"},

      // toJSON is nobody's business here: a function in the body stops the message, a prototype's
      // is not copied.
      {"[{toJSON: function () { return 1; }}]", kNotSent},
      {"({toJSON: 5})", "{toJSON:i5}"},
      {"(function () { function C() { this.x = 1; } C.prototype.toJSON = function () { return 'j'; };"
       " return [new C()]; })()",
       "[{x:i1}]"},

      // Getters are read, once each.
      {"[{get g() { return 5; }}]", "[{g:i5}]"},
      {"(function () { var n = 0; var o = {get g() { return ++n; }}; return [o, o, n]; })()",
       "[{g:i1},{g:i1},i0]"},
      {"(function () { var o = {a: 1}; Object.defineProperty(o, 'b', {get: function () { return NaN; },"
       " enumerable: true}); Object.defineProperty(o, 'c', {value: 3, enumerable: false}); return o; })()",
       "{a:i1,b:null}"},
      {"(function () { var a = [1, 2]; Object.defineProperty(a, 0, {get: function () { return 7; }}); return a; })()",
       "[i7,i2]"},
      {"[{get g() { throw new Error('boom'); }}]", kNotSent},
      {"({get g() { return function () {}; }})", kNotSent},

      // Cycles and shared parts.
      {"(function () { var a = {}; a.self = a; return a; })()", "absent"},
      {"(function () { var a = []; a.push([a]); return a; })()", "absent"},
      {"(function () { var a = {}; a.self = a; return [a, function () {}]; })()", kNotSent},
      {"(function () { var o = {x: 1}; return [o, o]; })()", "[{x:i1},{x:i1}]"},

      // Other objects.
      {"[new Map([[1, 2]]), new Set([1]), /re/g, new Error('e')]", "[{},{},{},{}]"},
      {"(function () { var m = new Map(); m.x = 1; var s = new Set(); s.y = 2; var r = /a/; r.z = 3;"
       " var e = new TypeError('t'); e.code = 5; return [m, s, r, e]; })()",
       "[{x:i1},{y:i2},{},{}]"},
      {"(function () { var s = new String('ab'); s.x = 1; var n = new Number(3); n.x = 1;"
       " return [s, n, new Boolean(true), Object(1n)]; })()",
       "[{0:'a',1:'b'},{},{},{}]"},
      {"[Object.create(null), Object.create({inherited: 1}), new (function F() { this.q = 1; })()]", "[{},{},{q:i1}]"},
      {"(function () { class A { constructor() { this.a = 1; } get b() { return 2; } }"
       " class B extends Array {} var b = new B(); b.push(1); return [new A(), b]; })()",
       "[{a:i1},[i1]]"},
      {"({b: 1, a: 2, 10: 3, 2: 4, '01': 5, '-1': 6})", "{-1:i6,01:i5,10:i3,2:i4,a:i2,b:i1}"},
      {"JSON.parse('{\"__proto__\": {\"a\": 1}, \"b\": 2}')", "{b:i2}"},
      {"({[Symbol('k')]: 1, k: 2})", "{k:i2}"},
      {"[{length: 2, 0: 'a', 1: 'b'}]", "[{0:'a',1:'b',length:i2}]"},

      // What WebKit cannot copy: the message is not sent.
      {"[function () {}]", kNotSent},
      {"({a: [undefined, function () {}]})", kNotSent},
      {"[Symbol('s')]", kNotSent},
      {"[Object(Symbol('s'))]", kNotSent},
      {"[new Proxy({a: 1}, {})]", kNotSent},
      {"(function () { return [arguments]; })(1)", kNotSent},
      {"[Math]", kNotSent},
      {"[JSON]", kNotSent},
      {"[Reflect]", kNotSent},
      {"[Intl]", kNotSent},
      {"[new Intl.Locale('en')]", kNotSent},
      {"[new Promise(function () {})]", kNotSent},
      {"[new WeakMap(), new WeakSet()]", kNotSent},
      {"[new WeakRef({})]", kNotSent},
      {"[[1, 2][Symbol.iterator]()]", kNotSent},
      {"[(function* () {})()]", kNotSent},
      {"[globalThis]", kNotSent},

      // Text.
      {"['\\ud800', 'a\\u2028b', 'nul\\u0000x', '\\u00e9', '\\ud83d\\ude00']",
       "['\\xef\\xbf\\xbd','a\\xe2\\x80\\xa8b','nul\\x00x','\\xc3\\xa9','\\xf0\\x9f\\x98\\x80']"},
      {"[new String('\\ud83d\\ude00')]", "[{0:'\\xef\\xbf\\xbd',1:'\\xef\\xbf\\xbd'}]"},

      // Nesting, up to and past the 512 levels the host reads.
      {nested(512, "[a]"), nestedArrays(512)},
      {nested(513, "[a]"), "absent"},
      {nested(512, "{a: a}"), nestedObjects(512)},
      {nested(513, "{a: a}"), "absent"},
      {"(function () { var a = new Uint8Array(0); for (var i = 0; i < 511; i++) a = [a]; return a; })()",
       std::string(511, '[') + "{}" + std::string(511, ']')},
      {"(function () { var a = new Uint8Array(0); for (var i = 0; i < 512; i++) a = [a]; return a; })()", "absent"},
  };
  // Last: a page that changes the built-ins changes nothing of what the host reads.
  cases.push_back({"(function () { Date.prototype.toJSON = function () { return 'page'; };"
                   " Date.prototype.toISOString = function () { return 'page'; }; return [new Date(0)]; })()",
                   "['1970-01-01T00:00:00.000Z']"});
  cases.push_back({"(function () { Object.keys = function () { return []; };"
                   " Object.prototype.toString = function () { return '[object Math]'; };"
                   " JSON.stringify = function () { return '{}'; }; return [{a: 1}, new Map()]; })()",
                   "[{a:i1},{}]"});
  return cases;
}

}  // namespace

const std::vector<ScriptMessageCase>& scriptMessageCases() {
  static const std::vector<ScriptMessageCase> cases = makeCases();
  return cases;
}

const std::vector<HugeBody>& hugeScriptMessageBodies() {
  static const std::vector<HugeBody> bodies = {
      {"(function () { var a = []; a.length = 4294967295; return a; })()", false},  // holes
      {"(function () { var a = []; a.length = 4194305; return [a]; })()", false},   // one past the bound
      {"[new Float64Array(4194305)]", false},                                       // elements
      {"[new String('x'.repeat(4194305))]", false},                                 // characters
      {"(function () { var t = new Float64Array(1 << 21); return [t, t, t]; })()", false},  // one typed array, thrice
      {"(function () { var a = 1; for (var i = 0; i < 100000; i++) a = [a]; return a; })()", false},  // far too deep
      // Shared parts: 2^40 values when read.
      {"(function () { var a = [1]; for (var i = 0; i < 40; i++) a = [a, a]; return a; })()", true},
      {"(function () { var o = {}; for (var i = 0; i < 23; i++) o = {l: o, r: o}; return [o]; })()", true},
      // A MiB of text, 300 times: as the same string, and in the same object.
      {"(function () { var s = 'x'.repeat(1 << 20); var a = []; for (var i = 0; i < 300; i++) a.push(s); return a; })()", true},
      {"(function () { var o = {s: 'x'.repeat(1 << 20)}; var a = []; for (var i = 0; i < 300; i++) a.push(o); return a; })()", true},
      // 48 Mi lone surrogates: 144 MiB as UTF-8, 288 MiB as the JSON that carries them ("\ud800").
      {"['\\ud800'.repeat(48 * 1024 * 1024)]", true},
  };
  return bodies;
}

}  // namespace plat::testing
