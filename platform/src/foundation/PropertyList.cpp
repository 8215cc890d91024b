#include "plat/foundation/PropertyList.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSXMLParser.h"
#include "plat/foundation/Strings.h"

namespace plat::plist {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<Value> parseInteger(std::string_view text) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!negative) {
    if (magnitude <= static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<std::int64_t>(magnitude));
    return Value(magnitude);
  }
  if (magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1) return std::nullopt;
  return Value(magnitude == static_cast<std::uint64_t>(INT64_MAX) + 1 ? INT64_MIN
                                                                      : -static_cast<std::int64_t>(magnitude));
}

std::optional<Value> parseReal(std::string_view text) {
  text = trim(text);
  std::string lower = toLowerASCII(text);
  if (lower == "nan") return Value(std::nan(""));
  if (lower == "+infinity" || lower == "infinity" || lower == "inf" || lower == "+inf")
    return Value(HUGE_VAL);
  if (lower == "-infinity" || lower == "-inf") return Value(-HUGE_VAL);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double d = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return Value(d);
}

// Builds the value from the parser's events; the first structural problem stops the parse.
class Reader : public NSXMLParserDelegate {
 public:
  std::optional<Value> result;
  std::string problem;

  void parserDidStartElementNamespaceURIQualifiedNameAttributes(NSXMLParser& parser, const std::string& name,
                                                                const std::optional<std::string>&,
                                                                const std::optional<std::string>&,
                                                                const Dictionary&) override {
    text_.clear();
    if (stack_.empty() && !seenRoot_) {
      if (name != "plist") return stop(parser, "the root element is not <plist>");
      seenRoot_ = true;
      stack_.emplace_back(Kind::Plist);
      return;
    }
    if (stack_.empty()) return stop(parser, "content after </plist>");
    Frame& top = stack_.back();
    if (top.kind == Kind::Leaf) return stop(parser, "an element inside <" + top.name + ">");
    if (top.kind == Kind::Dict && name != "key" && !top.pendingKey)
      return stop(parser, "a value without a <key> in <dict>");
    if (top.kind == Kind::Dict && name == "key" && top.pendingKey) return stop(parser, "two <key>s in a row");
    if (top.kind == Kind::Plist && !top.value.isAbsent()) return stop(parser, "more than one value in <plist>");
    if (name == "dict") {
      stack_.emplace_back(Kind::Dict);
    } else if (name == "array") {
      stack_.emplace_back(Kind::Array);
    } else if (name == "key" || name == "string" || name == "integer" || name == "real" || name == "true" ||
               name == "false" || name == "data" || name == "date") {
      if (name == "key" && top.kind != Kind::Dict) return stop(parser, "a <key> outside <dict>");
      stack_.emplace_back(Kind::Leaf, name);
    } else {
      stop(parser, "unknown element <" + name + ">");
    }
  }

  void parserFoundCharacters(NSXMLParser&, const std::string& characters) override {
    if (!stack_.empty() && stack_.back().kind == Kind::Leaf) text_ += characters;
  }

  void parserDidEndElementNamespaceURIQualifiedName(NSXMLParser& parser, const std::string& name,
                                                    const std::optional<std::string>&,
                                                    const std::optional<std::string>&) override {
    if (stack_.empty()) return;
    Kind kind = stack_.back().kind;
    if (kind == Kind::Plist) {
      if (stack_.back().value.isAbsent()) return stop(parser, "an empty <plist>");
      result = std::move(stack_.back().value);
      stack_.pop_back();
      return;
    }
    if (kind == Kind::Dict && stack_.back().pendingKey) return stop(parser, "a <key> without a value");
    Value value;
    if (kind == Kind::Leaf) {
      stack_.pop_back();
      if (name == "key") {
        stack_.back().key = text_;
        stack_.back().pendingKey = true;
        return;
      }
      std::optional<Value> leaf = leafValue(name);
      if (!leaf) return stop(parser, "the <" + name + "> \"" + text_.substr(0, 40) + "\" cannot be read");
      value = std::move(*leaf);
    } else {
      value = std::move(stack_.back().value);
      stack_.pop_back();
    }
    Frame& parent = stack_.back();
    switch (parent.kind) {
      case Kind::Plist: parent.value = std::move(value); break;
      case Kind::Array: parent.value.asArray().push_back(std::move(value)); break;
      case Kind::Dict:
        parent.value.asDictionary().set(std::move(parent.key), std::move(value));
        parent.key.clear();
        parent.pendingKey = false;
        break;
      case Kind::Leaf: break;
    }
  }

 private:
  enum class Kind { Plist, Dict, Array, Leaf };
  struct Frame {
    explicit Frame(Kind k, std::string n = {}) : kind(k), name(std::move(n)) {
      if (k == Kind::Dict) value = Dictionary();
      if (k == Kind::Array) value = Array();
    }
    Kind kind;
    Value value;
    std::string key;
    bool pendingKey = false;
    std::string name;
  };

  std::optional<Value> leafValue(const std::string& name) {
    if (name == "string" || name == "date") return Value(text_);
    if (name == "true") return Value(true);
    if (name == "false") return Value(false);
    if (name == "integer") return parseInteger(text_);
    if (name == "real") return parseReal(text_);
    if (name == "data") {
      std::string compact;
      for (char c : text_)
        if (!isSpace(c)) compact += c;
      auto bytes = base64Decode(compact);
      if (!bytes) return std::nullopt;
      return Value(std::move(*bytes));
    }
    return std::nullopt;
  }

  void stop(NSXMLParser& parser, std::string why) {
    if (problem.empty()) problem = std::move(why);
    parser.abortParsing();
  }

  std::vector<Frame> stack_;
  std::string text_;
  bool seenRoot_ = false;
};

bool representableText(std::string_view s) {
  if (!isValidUTF8(s)) return false;
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

void appendEscaped(std::string& out, std::string_view s) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;  // a bare CR would be read back as LF
      default: out += c;
    }
  }
}

bool write(std::string& out, const Value& value, int depth, std::string& problem) {
  std::string indent(static_cast<std::size_t>(depth), '\t');
  switch (value.type()) {
    case Value::Type::Absent:
    case Value::Type::Null:
      problem = "property lists cannot hold null";
      return false;
    case Value::Type::Bool: out += indent + (value.asBool() ? "<true/>\n" : "<false/>\n"); return true;
    case Value::Type::Int: out += indent + "<integer>" + std::to_string(value.asInt()) + "</integer>\n"; return true;
    case Value::Type::UInt: out += indent + "<integer>" + std::to_string(value.asUInt()) + "</integer>\n"; return true;
    case Value::Type::Double: {
      double d = value.asDouble();
      std::string text;
      if (std::isnan(d))
        text = "nan";
      else if (std::isinf(d))
        text = d > 0 ? "+infinity" : "-infinity";
      else
        text = format("%.17g", d);
      out += indent + "<real>" + text + "</real>\n";
      return true;
    }
    case Value::Type::String:
      if (!representableText(value.asString())) {
        problem = "a string holds characters XML cannot carry";
        return false;
      }
      out += indent + "<string>";
      appendEscaped(out, value.asString());
      out += "</string>\n";
      return true;
    case Value::Type::Data:
      out += indent + "<data>" + base64Encode(value.asData()) + "</data>\n";
      return true;
    case Value::Type::Array:
      if (value.asArray().empty()) {
        out += indent + "<array/>\n";
        return true;
      }
      out += indent + "<array>\n";
      for (const Value& v : value.asArray())
        if (!write(out, v, depth + 1, problem)) return false;
      out += indent + "</array>\n";
      return true;
    case Value::Type::Dictionary:
      if (value.asDictionary().empty()) {
        out += indent + "<dict/>\n";
        return true;
      }
      out += indent + "<dict>\n";
      for (const auto& [key, v] : value.asDictionary()) {
        if (!representableText(key)) {
          problem = "a key holds characters XML cannot carry";
          return false;
        }
        out += indent + "\t<key>";
        appendEscaped(out, key);
        out += "</key>\n";
        if (!write(out, v, depth + 1, problem)) return false;
      }
      out += indent + "</dict>\n";
      return true;
  }
  return false;
}

}  // namespace

Result<Value> parse(std::string_view xml) {
  auto parser = std::make_shared<NSXMLParser>();
  parser->initWithData(std::string(xml));
  auto reader = std::make_shared<Reader>();
  parser->setDelegate(reader);
  bool ok = parser->parse();
  if (!reader->problem.empty()) return Failure{"not a property list: " + reader->problem};
  if (!ok) {
    const NSError& e = *parser->parserError();
    return Failure{format("not a property list: %s (line %ld, column %ld)", e.localizedDescription.c_str(),
                          parser->lineNumber(), parser->columnNumber())};
  }
  if (!reader->result) return Failure{"not a property list: no <plist> element"};
  return std::move(*reader->result);
}

Result<std::string> writeXML(const Value& value) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  std::string problem;
  if (!write(out, value, 0, problem)) return Failure{problem};
  out += "</plist>\n";
  return out;
}

bool isPropertyList(const Value& value) { return writeXML(value).ok(); }

std::optional<Value> readFromFile(const std::string& path, NSError* error) {
  auto text = readFileContents(path, error);
  if (!text) return std::nullopt;
  auto value = parse(*text);
  if (!value) {
    if (error) {
      *error = NSError{NSCocoaErrorDomain, NSFileReadCorruptFileError,
                       "The file couldn\xE2\x80\x99t be opened because it isn\xE2\x80\x99t in the correct format. (" +
                           value.error() + ")",
                       Dictionary{{NSFilePathErrorKey, path}}};
    }
    return std::nullopt;
  }
  return std::move(*value);
}

bool writeToFile(const Value& value, const std::string& path, NSError* error) {
  auto text = writeXML(value);
  if (!text) {
    if (error) {
      *error = NSError{NSCocoaErrorDomain, NSFileWriteUnknownError,
                       "The property list couldn\xE2\x80\x99t be written: " + text.error() + ".",
                       Dictionary{{NSFilePathErrorKey, path}}};
    }
    return false;
  }
  return writeFileContentsAtomically(path, *text, error);
}

}  // namespace plat::plist
