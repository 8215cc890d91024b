#pragma once
// A page's value as JSON text, read within the bounds the headless engine reads page values in
// (ScriptMessageBodyReader's: kMaxValues values, kMaxTextBytes of text, json::kMaxDepth levels).
// A page makes at no cost a value that is huge when read (an array of length 2^32-1, two arrays
// holding each other's parts forty levels deep, one long text many times over), so a value is
// read only within them: the script evaluates to a function of (maxValues, maxText, maxDepth,
// headElements, headText) that makes the reader, which walks a value as JSON.stringify would,
// counting each part as often as it is met and each text inside a container as JSON writes it
// (the JSON text is what the reader's caller holds: a control character or a lone surrogate is
// six bytes of it), and gives the value's JSON text when it stays within them; a string is given
// as itself, well formed (its lone surrogates U+FFFD, as JSON reads them): WebKit's own
// conversion of a string to UTF-8 stops at the first lone surrogate. When not, it gives an
// object: why ('depth', 'values' or 'text') and head, the JSON of an array value's first scalar
// elements (at most headElements, texts of at most headText bytes), what the host hears of a
// script message it cannot read (UnreadableBody); with headElements 0, nothing (null). Depth past
// the bound, a cycle among them, does not fit either.
// Shared by the engine (for the copies WebKit hands it) and the web extension (for the results
// of the engine's scripts and calls, read in the page's process), through makeBoundedJSONReader.
#include <jsc/jsc.h>

#include "plat/foundation/JSON.h"
#include "plat/web/ScriptMessageBody.h"

namespace plat::web {

inline constexpr char kBoundedJSONScript[] = R"js(
(function (maxValues, maxText, maxDepth, headElements, headText) {
  'use strict';
  var isArray = Array.isArray, isView = ArrayBuffer.isView, keys = Object.keys, stringify = JSON.stringify;
  var apply = Reflect.apply, toWellFormed = String.prototype.toWellFormed;
  var beyondAscii = /[^\x00-\x7f]/;
  var escaped = /[^\x20\x21\x23-\x5b\x5d-\x7f]/;
  function bytes(s, inJSON) {
    if (!(inJSON ? escaped : beyondAscii).test(s)) return s.length;
    var n = 0;
    for (var i = 0; i < s.length; i++) {
      var c = s.charCodeAt(i);
      if (inJSON && (c === 0x22 || c === 0x5c || c === 8 || c === 9 || c === 10 || c === 12 || c === 13)) n += 2;
      else if (inJSON && c < 0x20) n += 6;
      else if (c < 0x80) n += 1;
      else if (c < 0x800) n += 2;
      else if ((c & 0xfc00) === 0xd800 && (s.charCodeAt(i + 1) & 0xfc00) === 0xdc00) { n += 4; i++; }
      else if (inJSON && (c & 0xf800) === 0xd800) n += 6;  // a lone surrogate, written \udXXX
      else n += 3;  // and a lone surrogate outside JSON, read as U+FFFD
    }
    return n;
  }
  function head(body) {
    var out = [];
    if (!isArray(body) || body.length > maxValues - 1) return '[]';
    for (var i = 0; i < body.length && out.length < headElements; i++) {
      var e = body[i], t = typeof e;
      if (t === 'undefined' || t === 'bigint') e = null;
      else if (!(e === null || t === 'boolean' || t === 'number' || (t === 'string' && bytes(e, false) <= headText))) break;
      out.push(e);
    }
    return stringify(out);
  }
  return function (body) {
    var count = 0, text = 0, why = null;
    function fail(reason) {
      why = reason;
      return false;
    }
    function textFits(s, inJSON) {
      text += bytes(s, inJSON);
      return text <= maxText || fail('text');
    }
    function fits(v, depth) {
      if (++count > maxValues) return fail('values');
      if (typeof v === 'string') return textFits(v, depth > 0);
      if (v === null || typeof v !== 'object' || v instanceof Date) return true;
      if (depth >= maxDepth) return fail('depth');
      if (isView(v)) return (count += v.length || 0) <= maxValues || fail('values');
      if (isArray(v)) {
        if (v.length > maxValues - count) return fail('values');
        for (var i = 0; i < v.length; i++) if (!fits(v[i], depth + 1)) return false;
        return true;
      }
      var k = keys(v);
      if (k.length > maxValues - count) return fail('values');
      for (var j = 0; j < k.length; j++) if (!textFits(k[j], true) || !fits(v[k[j]], depth + 1)) return false;
      return true;
    }
    if (!fits(body, 0)) return headElements > 0 ? { why: why, head: head(body) } : null;
    if (typeof body === 'string') return apply(toWellFormed, body, []);
    try {
      return stringify(body);
    } catch (e) {
      return undefined;
    }
  };
})
)js";

// The reader in the context (a new reference; none when it cannot be made there), with the bounds
// of ScriptMessageBodyReader. withHead: whether what it cannot read gives why and its head (a
// script message's receiver hears them), or just null.
inline JSCValue* makeBoundedJSONReader(JSCContext* context, bool withHead) {
  JSCValue* reader = nullptr;
  JSCValue* factory = jsc_context_evaluate(context, kBoundedJSONScript, -1);
  if (factory && jsc_value_is_function(factory))
    reader = jsc_value_function_call(
        factory, G_TYPE_DOUBLE, double(ScriptMessageBodyReader::kMaxValues), G_TYPE_DOUBLE,
        double(ScriptMessageBodyReader::kMaxTextBytes), G_TYPE_DOUBLE, double(json::kMaxDepth), G_TYPE_DOUBLE,
        withHead ? double(UnreadableBody::kHeadElements) : 0.0, G_TYPE_DOUBLE, double(UnreadableBody::kHeadTextBytes),
        G_TYPE_NONE);
  if (factory) g_object_unref(factory);
  jsc_context_clear_exception(context);
  if (reader && !jsc_value_is_function(reader)) {
    g_object_unref(reader);
    reader = nullptr;
  }
  return reader;
}

}  // namespace plat::web
