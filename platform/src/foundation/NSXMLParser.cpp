#include "plat/foundation/NSXMLParser.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <exception>
#include <mutex>

#include "plat/foundation/NSFileManager.h"

namespace plat {

struct NSXMLParserCallbacks {
  static NSXMLParser& owner(void* context) {
    return *static_cast<NSXMLParser*>(static_cast<xmlParserCtxtPtr>(context)->_private);
  }

  // A delegate's exception must not unwind through libxml2's C frames: it is kept and rethrown
  // once libxml2 has returned.
  template <class F>
  static void guarded(void* context, F&& f) {
    NSXMLParser& parser = owner(context);
    if (parser.pendingException_ || parser.aborted_) return;
    try {
      f(parser);
    } catch (...) {
      parser.pendingException_ = std::current_exception();
      xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
    }
  }

  static std::string qualified(const xmlChar* prefix, const xmlChar* local) {
    std::string name;
    if (prefix) {
      name = reinterpret_cast<const char*>(prefix);
      name += ':';
    }
    name += reinterpret_cast<const char*>(local);
    return name;
  }

  static void startDocument(void* context) {
    xmlSAX2StartDocument(context);
    guarded(context, [](NSXMLParser& p) {
      if (auto d = p.delegate()) d->parserDidStartDocument(p);
    });
  }

  static void endDocument(void* context) {
    xmlSAX2EndDocument(context);
    guarded(context, [](NSXMLParser& p) {
      if (auto d = p.delegate()) d->parserDidEndDocument(p);
    });
  }

  static void startElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                           int, const xmlChar**, int nbAttributes, int, const xmlChar** attributes) {
    NSXMLParser& parser = owner(context);
    if (++parser.depth_ > NSXMLParser::kMaxDepth) {
      auto ctxt = static_cast<xmlParserCtxtPtr>(context);
      parser.recordError(NSXMLParserNestingTooDeepError, "Elements are nested too deeply", xmlSAX2GetLineNumber(ctxt),
                         xmlSAX2GetColumnNumber(ctxt));
      xmlStopParser(ctxt);
      return;
    }
    guarded(context, [&](NSXMLParser& p) {
      auto d = p.delegate();
      if (!d) return;
      Dictionary attrs;
      attrs.reserve(static_cast<std::size_t>(nbAttributes));
      for (int i = 0; i < nbAttributes; ++i) {
        const xmlChar** a = attributes + 5 * i;  // localname, prefix, URI, value, end
        const char* begin = reinterpret_cast<const char*>(a[3]);
        const char* end = reinterpret_cast<const char*>(a[4]);
        attrs.set(qualified(a[1], a[0]), std::string(begin, static_cast<std::size_t>(end - begin)));
      }
      std::string qname = qualified(prefix, localname);
      if (p.processNamespaces_) {
        std::optional<std::string> ns;
        if (uri) ns = std::string(reinterpret_cast<const char*>(uri));
        d->parserDidStartElementNamespaceURIQualifiedNameAttributes(
            p, reinterpret_cast<const char*>(localname), ns.has_value() ? ns : std::optional<std::string>(""), qname,
            attrs);
      } else {
        d->parserDidStartElementNamespaceURIQualifiedNameAttributes(p, qname, std::nullopt, std::nullopt, attrs);
      }
    });
  }

  static void endElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    --owner(context).depth_;
    guarded(context, [&](NSXMLParser& p) {
      auto d = p.delegate();
      if (!d) return;
      std::string qname = qualified(prefix, localname);
      if (p.processNamespaces_) {
        std::optional<std::string> ns = uri ? std::string(reinterpret_cast<const char*>(uri)) : std::string();
        d->parserDidEndElementNamespaceURIQualifiedName(p, reinterpret_cast<const char*>(localname), ns, qname);
      } else {
        d->parserDidEndElementNamespaceURIQualifiedName(p, qname, std::nullopt, std::nullopt);
      }
    });
  }

  static void characters(void* context, const xmlChar* text, int length) {
    guarded(context, [&](NSXMLParser& p) {
      if (auto d = p.delegate())
        d->parserFoundCharacters(p, std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)));
    });
  }

  // Entities are refused outright: that rules out expansion attacks whatever libxml2 would do.
  static void entityDecl(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    refuseEntity(context);
  }
  static void unparsedEntityDecl(void* context, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*) {
    refuseEntity(context);
  }
  static void refuseEntity(void* context) {
    auto ctxt = static_cast<xmlParserCtxtPtr>(context);
    NSXMLParser& p = owner(context);
    p.recordError(NSXMLParserEntityDeclarationRefusedError, "Entity declarations are not allowed",
                  xmlSAX2GetLineNumber(ctxt), xmlSAX2GetColumnNumber(ctxt));
    xmlStopParser(ctxt);
  }

  static xmlParserInputPtr noExternalEntities(void*, const xmlChar*, const xmlChar*) { return nullptr; }

  static void structuredError(void* userData, xmlErrorPtr error) {
    if (!error || error->level < XML_ERR_ERROR || !error->ctxt) return;
    NSXMLParser& p = owner(error->ctxt);
    std::string message = error->message ? error->message : "XML error";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    p.recordError(error->code, std::move(message), error->line, error->int2);
  }
};

namespace {
void initLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}
}  // namespace

bool NSXMLParser::initWithContentsOfURL(const NSURLPtr& url) {
  if (!url || !url->isFileURL()) return false;
  struct stat st {};
  if (::stat(url->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uint64_t>(st.st_size) > kMaxDocumentBytes) {
    data_.clear();
    tooLarge_ = true;
    url_ = url->path();
    return true;
  }
  auto contents = readFileContents(url->path());
  if (!contents) return false;
  data_ = std::move(*contents);
  tooLarge_ = false;
  url_ = url->path();
  return true;
}

void NSXMLParser::initWithData(std::string data) {
  data_ = std::move(data);
  tooLarge_ = false;
  url_.clear();
}

void NSXMLParser::recordError(long code, std::string message, long line, long column) {
  if (error_) return;  // the first error is the one that counts
  error_ = NSError{NSXMLParserErrorDomain, code, std::move(message), Value()};
  errorLine_ = line;
  errorColumn_ = column;
}

bool NSXMLParser::parse() {
  initLibxml();
  error_.reset();
  aborted_ = false;
  depth_ = 0;
  pendingException_ = nullptr;
  errorLine_ = errorColumn_ = lastLine_ = lastColumn_ = 0;
  if (tooLarge_ || data_.size() > kMaxDocumentBytes) {
    recordError(XML_ERR_NO_MEMORY, "Document too large", 0, 0);
    if (auto d = delegate()) d->parserParseErrorOccurred(*this, *error_);
    return false;
  }

  xmlSAXHandler sax{};
  xmlSAXVersion(&sax, 2);
  sax.startDocument = NSXMLParserCallbacks::startDocument;
  sax.endDocument = NSXMLParserCallbacks::endDocument;
  sax.startElementNs = NSXMLParserCallbacks::startElement;
  sax.endElementNs = NSXMLParserCallbacks::endElement;
  sax.characters = NSXMLParserCallbacks::characters;
  sax.cdataBlock = NSXMLParserCallbacks::characters;
  sax.ignorableWhitespace = NSXMLParserCallbacks::characters;
  sax.entityDecl = NSXMLParserCallbacks::entityDecl;
  sax.unparsedEntityDecl = NSXMLParserCallbacks::unparsedEntityDecl;
  sax.resolveEntity = NSXMLParserCallbacks::noExternalEntities;
  sax.externalSubset = nullptr;
  sax.reference = nullptr;
  sax.comment = nullptr;
  sax.processingInstruction = nullptr;
  sax.warning = nullptr;
  sax.error = nullptr;
  sax.fatalError = nullptr;
  sax.serror = NSXMLParserCallbacks::structuredError;

  // Encoding failures are reported through libxml2's generic channel, which prints to standard
  // error; the structured handler above already records them, so the generic one stays silent.
  struct SilenceGenericErrors {
    static void ignore(void*, const char*, ...) {}
    SilenceGenericErrors() { xmlSetGenericErrorFunc(nullptr, ignore); }
    ~SilenceGenericErrors() { xmlSetGenericErrorFunc(nullptr, nullptr); }
  } silence;

  // No user data: the default SAX2 handlers we keep expect the context itself there.
  xmlParserCtxtPtr ctxt =
      xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, url_.empty() ? nullptr : url_.c_str());
  if (!ctxt) {
    recordError(XML_ERR_NO_MEMORY, "Could not create the XML parser", 0, 0);
    if (auto d = delegate()) d->parserParseErrorOccurred(*this, *error_);
    return false;
  }
  ctxt->_private = this;
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
  context_ = ctxt;
  auto self = shared_from_this();  // a delegate may drop the last reference while we parse

  xmlParseChunk(ctxt, data_.data(), static_cast<int>(data_.size()), 1);

  bool wellFormed = ctxt->wellFormed != 0;
  lastLine_ = xmlSAX2GetLineNumber(ctxt);
  lastColumn_ = xmlSAX2GetColumnNumber(ctxt);
  context_ = nullptr;
  if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);

  if (pendingException_) std::rethrow_exception(std::exchange(pendingException_, nullptr));
  if (aborted_ && !error_) recordError(NSXMLParserDelegateAbortedParseError, "Parsing aborted", lastLine_, lastColumn_);
  if (!wellFormed && !error_) recordError(XML_ERR_DOCUMENT_END, "Malformed document", lastLine_, lastColumn_);
  if (error_) {
    if (auto d = delegate()) d->parserParseErrorOccurred(*this, *error_);
    return false;
  }
  return true;
}

void NSXMLParser::abortParsing() {
  if (!context_) return;
  aborted_ = true;
  auto ctxt = static_cast<xmlParserCtxtPtr>(context_);
  recordError(NSXMLParserDelegateAbortedParseError, "Parsing aborted", xmlSAX2GetLineNumber(ctxt),
              xmlSAX2GetColumnNumber(ctxt));
  xmlStopParser(ctxt);
}

long NSXMLParser::lineNumber() const {
  if (context_) return xmlSAX2GetLineNumber(static_cast<xmlParserCtxtPtr>(context_));
  return error_ ? errorLine_ : lastLine_;
}

long NSXMLParser::columnNumber() const {
  if (context_) return xmlSAX2GetColumnNumber(static_cast<xmlParserCtxtPtr>(context_));
  return error_ ? errorColumn_ : lastColumn_;
}

}  // namespace plat
