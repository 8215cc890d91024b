#pragma once
// Page values as a script message carries them to the host, measured on real WebKit pages (the
// WebKit engine's test runs the table under both engines; the platform's tests run it through
// the headless engine's reader). Each case is a script expression posted as a message's whole
// body, and what the host receives, written by describeTyped (dictionaries with their keys
// sorted: WebKit hands keys over in an order of its own), or kNotSent when WebKit sends no
// message at all.
//
// The cases that change the page's built-ins come last, so that they change nothing before them.
#include <string>
#include <vector>

#include "plat/foundation/Value.h"

namespace plat::testing {

inline constexpr char kNotSent[] = "(not sent)";

struct ScriptMessageCase {
  std::string script;
  std::string arrives;
};

// The value with its kinds spelled out: i<integer>, u<unsigned>, d<double> (dNaN, d-0, dinf),
// 'text' (bytes past ASCII as \xNN), null, true, false, absent, [..], {key:value} with sorted keys.
std::string describeTyped(const Value& value);

// The cases, in the order a page runs them.
const std::vector<ScriptMessageCase>& scriptMessageCases();

// Bodies a page makes at little cost that would cost the host without bound when read as JSON
// (past ScriptMessageBodyReader's bounds of values or text, or nested far too deep): each arrives
// absent.
struct HugeBody {
  std::string script;  // an expression, the whole body
  // Whether WebKit hands it to the host at once. Its copy in the page takes seconds for some (it
  // visits every index of an array, and every element of a typed array, one by one: the page's
  // own process pays), and it sends none nested tens of thousands of levels deep.
  bool reachesWebKitsHost;
};
const std::vector<HugeBody>& hugeScriptMessageBodies();

}  // namespace plat::testing
