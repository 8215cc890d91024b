#pragma once
// A page's value as JSON text, read within the bounds the headless engine reads page values in
// (ScriptMessageBodyReader's: kMaxValues values, kMaxTextBytes of text, json::kMaxDepth levels).
// A page makes at no cost a value that is huge when read (an array of length 2^32-1, two arrays
// holding each other's parts forty levels deep, one long text many times over), so a value is
// read only within them: the script evaluates to a function of (maxValues, maxText, maxDepth)
// that makes the reader, which walks a value as JSON.stringify would, counting each part as often
// as it is met, and gives the value's JSON text (a string: the string itself) when it stays within
// them, undefined when not. Depth past the bound, a cycle among them, does not fit either.
// Shared by the engine (for the copies WebKit hands it) and the web extension (for the results
// of the engine's scripts and calls, read in the page's process).

namespace plat::web {

inline constexpr char kBoundedJSONScript[] = R"js(
(function (maxValues, maxText, maxDepth) {
  'use strict';
  var isArray = Array.isArray, isView = ArrayBuffer.isView, keys = Object.keys;
  var beyondAscii = /[^\x00-\x7f]/;
  function utf8Bytes(s) {
    if (!beyondAscii.test(s)) return s.length;
    var n = 0;
    for (var i = 0; i < s.length; i++) {
      var c = s.charCodeAt(i);
      if (c < 0x80) n += 1;
      else if (c < 0x800) n += 2;
      else if ((c & 0xfc00) === 0xd800 && (s.charCodeAt(i + 1) & 0xfc00) === 0xdc00) { n += 4; i++; }
      else n += 3;  // a lone surrogate is read as U+FFFD
    }
    return n;
  }
  return function (body) {
    var count = 0, text = 0;
    function textFits(s) {
      text += utf8Bytes(s);
      return text <= maxText;
    }
    function fits(v, depth) {
      if (++count > maxValues) return false;
      if (typeof v === 'string') return textFits(v);
      if (v === null || typeof v !== 'object' || v instanceof Date) return true;
      if (depth >= maxDepth) return false;
      if (isView(v)) return (count += v.length || 0) <= maxValues;
      if (isArray(v)) {
        if (v.length > maxValues - count) return false;
        for (var i = 0; i < v.length; i++) if (!fits(v[i], depth + 1)) return false;
        return true;
      }
      var k = keys(v);
      if (k.length > maxValues - count) return false;
      for (var j = 0; j < k.length; j++) if (!textFits(k[j]) || !fits(v[k[j]], depth + 1)) return false;
      return true;
    }
    if (!fits(body, 0)) return undefined;
    if (typeof body === 'string') return body;
    try {
      return JSON.stringify(body);
    } catch (e) {
      return undefined;
    }
  };
})
)js";

}  // namespace plat::web
