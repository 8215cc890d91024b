#include "WebKitSchemes.h"

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/NSURLProtocol.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/foundation/Strings.h"

namespace plat::web {
namespace {

// What the protocol has handed over and WebKit has not read yet, shared by the load (main
// thread) and the stream (GIO's worker threads).
struct SchemeBody {
  // Past this much waiting to be read, the protocol's next piece waits for WebKit.
  static constexpr std::size_t kMaxWaiting = 4 * kNSURLBodyPieceSize;

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Data> pieces;
  std::size_t readOfFront = 0;  // bytes of pieces.front() already read
  std::size_t waiting = 0;      // bytes handed over and not yet read
  bool ended = false;
  std::optional<std::string> failure;
  bool closed = false;
  std::function<void()> wanted;   // the protocol's next piece, held while too much waits
  std::function<void()> onClose;  // stops the load, on the main thread

  void add(Data&& piece) {
    std::lock_guard lock(mutex);
    if (closed || piece.empty()) return;
    waiting += piece.size();
    pieces.push_back(std::move(piece));
    changed.notify_all();
  }
  void whenReady(std::function<void()> next) {
    std::unique_lock lock(mutex);
    if (closed) return;
    if (waiting < kMaxWaiting) {
      lock.unlock();
      RunLoop::main().post(std::move(next));
    } else {
      wanted = std::move(next);
    }
  }
  void end(std::optional<std::string> why) {
    std::lock_guard lock(mutex);
    ended = true;
    failure = std::move(why);
    changed.notify_all();
  }
  void close() {
    std::function<void()> stop;
    {
      std::lock_guard lock(mutex);
      if (closed) return;
      closed = true;
      pieces.clear();
      waiting = 0;
      wanted = nullptr;
      stop = std::move(onClose);
      changed.notify_all();
    }
    if (stop) RunLoop::main().post(std::move(stop));
  }
};

// ---- The stream WebKit reads a body from --------------------------------------------------------

struct HarborSchemeStream {
  GInputStream parent;
  std::shared_ptr<SchemeBody>* body;
};
struct HarborSchemeStreamClass {
  GInputStreamClass parent;
};

G_DEFINE_TYPE(HarborSchemeStream, harbor_scheme_stream, G_TYPE_INPUT_STREAM)

SchemeBody& bodyOf(GInputStream* stream) { return **reinterpret_cast<HarborSchemeStream*>(stream)->body; }

// On a worker thread of GIO's (WebKit reads asynchronously): waits for a piece, the end, a
// failure or WebKit's cancellation.
gssize readBody(GInputStream* stream, void* buffer, gsize count, GCancellable* cancellable, GError** error) {
  SchemeBody& body = bodyOf(stream);
  std::function<void()> next;
  gssize n = 0;
  {
    std::unique_lock lock(body.mutex);
    while (body.pieces.empty() && !body.ended && !body.closed) {
      if (g_cancellable_set_error_if_cancelled(cancellable, error)) return -1;
      body.changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (body.pieces.empty()) {
      if (!body.failure) return 0;
      g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, body.failure->c_str());
      return -1;
    }
    Data& front = body.pieces.front();
    n = static_cast<gssize>(std::min<std::size_t>(count, front.size() - body.readOfFront));
    std::memcpy(buffer, front.data() + body.readOfFront, static_cast<std::size_t>(n));
    body.readOfFront += static_cast<std::size_t>(n);
    body.waiting -= static_cast<std::size_t>(n);
    if (body.readOfFront == front.size()) {
      body.pieces.pop_front();
      body.readOfFront = 0;
    }
    if (body.wanted && body.waiting < SchemeBody::kMaxWaiting) next = std::move(body.wanted);
    body.wanted = nullptr;
  }
  if (next) RunLoop::main().post(std::move(next));
  return n;
}

gboolean closeBody(GInputStream* stream, GCancellable*, GError**) {
  bodyOf(stream).close();
  return TRUE;
}

void finalizeStream(GObject* object) {
  auto* stream = reinterpret_cast<HarborSchemeStream*>(object);
  if (stream->body) {
    (*stream->body)->close();
    delete stream->body;
    stream->body = nullptr;
  }
  G_OBJECT_CLASS(harbor_scheme_stream_parent_class)->finalize(object);
}

void harbor_scheme_stream_class_init(HarborSchemeStreamClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = finalizeStream;
  G_INPUT_STREAM_CLASS(klass)->read_fn = readBody;
  G_INPUT_STREAM_CLASS(klass)->close_fn = closeBody;
}

void harbor_scheme_stream_init(HarborSchemeStream* stream) { stream->body = nullptr; }

GInputStream* streamOf(const std::shared_ptr<SchemeBody>& body) {
  auto* stream = static_cast<HarborSchemeStream*>(g_object_new(harbor_scheme_stream_get_type(), nullptr));
  stream->body = new std::shared_ptr<SchemeBody>(body);
  return G_INPUT_STREAM(stream);
}

// ---- One request of WebKit's, loaded by a protocol ------------------------------------------------

void runOnMainThread(std::function<void()> work) {
  if (isMainThread())
    work();
  else
    RunLoop::main().post(std::move(work));
}

void finishWithError(WebKitURISchemeRequest* request, const std::string& why) {
  GError* error = g_error_new_literal(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FAILED, why.c_str());
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

// The protocol's client. It holds the protocol (which holds it) until the load has ended or
// WebKit has let the body go; the cycle is broken on a later turn, never inside a report.
class SchemeLoad : public NSURLProtocolClient, public std::enable_shared_from_this<SchemeLoad> {
 public:
  explicit SchemeLoad(WebKitURISchemeRequest* request) : request_(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request))) {}
  ~SchemeLoad() override {
    if (request_) g_object_unref(request_);
  }

  void start(const NSURLRequestPtr& request, const NSURLProtocol::Class& protocolClass) {
    protocol_ = protocolClass.make();
    NSURLProtocolPtr protocol = protocol_;
    std::weak_ptr<SchemeLoad> weak = shared_from_this();
    body_->onClose = [weak] {
      if (auto self = weak.lock()) self->letGo(true);
    };
    protocol->initWithRequestCachedResponseClient(request, nullptr, shared_from_this());
    protocol->startLoading();
  }

  void URLProtocolDidReceiveResponseCacheStoragePolicy(NSURLProtocol&, const NSURLResponsePtr& response,
                                                      NSURLCacheStoragePolicy) override {
    runOnMainThread([self = shared_from_this(), response] { self->respond(response); });
  }
  void URLProtocolDidLoadData(NSURLProtocol&, const Data& data) override { body_->add(Data(data)); }
  void URLProtocolDidLoadOwnedData(NSURLProtocol&, Data&& data) override { body_->add(std::move(data)); }
  void URLProtocolWhenReadyForMoreData(NSURLProtocol&, std::function<void()> next) override {
    body_->whenReady(std::move(next));
  }
  void URLProtocolDidFinishLoading(NSURLProtocol&) override {
    runOnMainThread([self = shared_from_this()] {
      if (self->request_) self->respond(nullptr);  // ended without a response: an empty one
      self->body_->end(std::nullopt);
      self->letGo(false);
    });
  }
  void URLProtocolDidFailWithError(NSURLProtocol&, const NSError& error) override {
    runOnMainThread([self = shared_from_this(), why = error.localizedDescription] {
      if (WebKitURISchemeRequest* request = std::exchange(self->request_, nullptr)) {
        finishWithError(request, why);
        g_object_unref(request);
      }
      self->body_->end(why);
      self->letGo(false);
    });
  }

 private:
  void respond(const NSURLResponsePtr& response) {
    WebKitURISchemeRequest* request = std::exchange(request_, nullptr);
    if (!request) return;
    long status = 200;
    std::string statusText = "OK";
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    if (http) {
      status = http->statusCode();
      statusText = NSHTTPURLResponse::localizedStringForStatusCode(status);
    }
    std::int64_t length = response ? response->expectedContentLength() : NSURLResponse::kUnknownLength;
    GInputStream* stream = streamOf(body_);
    WebKitURISchemeResponse* answer = webkit_uri_scheme_response_new(stream, length >= 0 ? length : -1);
    g_object_unref(stream);
    webkit_uri_scheme_response_set_status(answer, static_cast<guint>(status), statusText.c_str());
    std::string type = response && !response->MIMEType().empty() ? response->MIMEType() : "application/octet-stream";
    webkit_uri_scheme_response_set_content_type(answer, type.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    // The protocol's own fields (a range's "Content-Range", "Accept-Ranges", ...), then those
    // that say what the body is.
    if (http) {
      for (const auto& [name, value] : http->allHeaderFields()) {
        if (!equalsIgnoringCaseASCII(name, "Content-Type") && !equalsIgnoringCaseASCII(name, "Content-Length"))
          soup_message_headers_append(headers, name.c_str(), value.c_str());
      }
    }
    // Pages of any origin (file pages are opaque ones) may read what the application's own
    // protocols serve, as on the device.
    soup_message_headers_replace(headers, "Access-Control-Allow-Origin", "*");
    soup_message_headers_append(headers, "Content-Type", type.c_str());
    if (length >= 0) soup_message_headers_append(headers, "Content-Length", std::to_string(length).c_str());
    webkit_uri_scheme_response_set_http_headers(answer, headers);
    webkit_uri_scheme_request_finish_with_response(request, answer);
    g_object_unref(answer);
    g_object_unref(request);
  }

  // The protocol is done, or its body is no longer wanted: let it go on a later turn, so that a
  // report under way returns into a protocol that is still there.
  void letGo(bool stop) {
    NSURLProtocolPtr protocol = std::move(protocol_);
    if (!protocol) return;
    RunLoop::main().post([protocol, stop] {
      if (stop) protocol->stopLoading();
    });
  }

  WebKitURISchemeRequest* request_;  // until it has been answered
  NSURLProtocolPtr protocol_;
  std::shared_ptr<SchemeBody> body_ = std::make_shared<SchemeBody>();
};

// The request as the platform's protocols read it: the URL, the method and the header fields.
NSURLRequestPtr platformRequest(WebKitURISchemeRequest* request, const NSURLPtr& url) {
  auto copy = NSMutableURLRequest::requestWithURL(url);
  if (const char* method = webkit_uri_scheme_request_get_http_method(request)) copy->setHTTPMethod(method);
  if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, headers);
    const char* name = nullptr;
    const char* value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) copy->addValueForHTTPHeaderField(value, name);
  }
  return copy;
}

}  // namespace

void serveApplicationScheme(WebKitURISchemeRequest* request, gpointer) {
  std::string uri = webkit_uri_scheme_request_get_uri(request);
  NSURLPtr url = NSURL::URLWithString(uri);
  if (!url) return finishWithError(request, "not a URL");
  NSURLRequestPtr platform = platformRequest(request, url);
  auto protocolClass = NSURLProtocol::classForRequest(platform);
  if (!protocolClass) return finishWithError(request, NSURLErrorWithCode(NSURLErrorUnsupportedURL, url).localizedDescription);
  std::make_shared<SchemeLoad>(request)->start(platform, *protocolClass);
}

}  // namespace plat::web
