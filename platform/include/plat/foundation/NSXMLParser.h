#pragma once
// An event-driven XML parser over libxml2, for config.xml and property lists.
//
// Safe for untrusted files: nothing is fetched from the network, no external DTD is loaded,
// and a document that declares entities is refused with an error (so no entity can expand);
// the predefined entities and character references still work. Elements nested deeper than
// kMaxDepth are an error, so that no reader can be driven into unbounded recursion.
//
// The delegate hears the document's start, each element's start (with its attributes, in
// document order) and end, character data (CDATA sections included), the document's end, and
// at most one error, after which nothing more is delivered. An error carries the domain
// "NSXMLParserErrorDomain", libxml2's error code, its message and the line and column.
//
// One thread at a time per parser; callbacks run on the thread that called parse(). An
// exception thrown by a delegate stops the parse and leaves parse() unchanged.
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

inline constexpr char NSXMLParserErrorDomain[] = "NSXMLParserErrorDomain";
// The delegate called abortParsing.
inline constexpr long NSXMLParserDelegateAbortedParseError = 512;
// The document declares an entity.
inline constexpr long NSXMLParserEntityDeclarationRefusedError = 513;
// Elements nested deeper than NSXMLParser::kMaxDepth.
inline constexpr long NSXMLParserNestingTooDeepError = 514;

class NSXMLParser;

class NSXMLParserDelegate {
 public:
  virtual ~NSXMLParserDelegate() = default;

  virtual void parserDidStartDocument(NSXMLParser& parser) {}
  virtual void parserDidEndDocument(NSXMLParser& parser) {}
  // elementName is the qualified name as written; namespaceURI and qualifiedName are given only
  // when the parser processes namespaces (then elementName is the local name). Attribute values
  // are strings, keyed by qualified name.
  virtual void parserDidStartElementNamespaceURIQualifiedNameAttributes(
      NSXMLParser& parser, const std::string& elementName, const std::optional<std::string>& namespaceURI,
      const std::optional<std::string>& qualifiedName, const Dictionary& attributes) {}
  virtual void parserDidEndElementNamespaceURIQualifiedName(NSXMLParser& parser, const std::string& elementName,
                                                            const std::optional<std::string>& namespaceURI,
                                                            const std::optional<std::string>& qualifiedName) {}
  virtual void parserFoundCharacters(NSXMLParser& parser, const std::string& characters) {}
  virtual void parserParseErrorOccurred(NSXMLParser& parser, const NSError& parseError) {}
};

class NSXMLParser : public Object {
 public:
  static constexpr int kMaxDepth = 256;
  // libxml2 takes a document's length as an int: a longer document is refused with
  // "Document too large" (code XML_ERR_NO_MEMORY) before any of it is read.
  static constexpr std::size_t kMaxDocumentBytes = 2147483647;

  // Reads the whole file of a file URL; false when it is not a file URL or cannot be read. A
  // file over kMaxDocumentBytes is not read: parse() then fails at once.
  bool initWithContentsOfURL(const NSURLPtr& url);
  void initWithData(std::string data);

  // Held weakly, as the platform does: the caller keeps the delegate alive.
  void setDelegate(const std::shared_ptr<NSXMLParserDelegate>& delegate) { delegate_ = delegate; }
  std::shared_ptr<NSXMLParserDelegate> delegate() const { return delegate_.lock(); }
  void setShouldProcessNamespaces(bool process) { processNamespaces_ = process; }

  // Parses synchronously; true when the document was well-formed and not aborted.
  bool parse();
  // From a delegate callback: stops after the current callback with
  // NSXMLParserDelegateAbortedParseError.
  void abortParsing();

  const std::optional<NSError>& parserError() const { return error_; }
  // While parsing, the current position; after an error, the error's position (1-based).
  long lineNumber() const;
  long columnNumber() const;

 private:
  friend struct NSXMLParserCallbacks;
  void recordError(long code, std::string message, long line, long column);

  std::string data_;
  bool tooLarge_ = false;
  std::string url_;
  std::weak_ptr<NSXMLParserDelegate> delegate_;
  bool processNamespaces_ = false;
  void* context_ = nullptr;  // the libxml2 parser context while parse() runs
  bool aborted_ = false;
  int depth_ = 0;
  std::optional<NSError> error_;
  long errorLine_ = 0;
  long errorColumn_ = 0;
  long lastLine_ = 0;
  long lastColumn_ = 0;
  std::exception_ptr pendingException_;
};

}  // namespace plat
