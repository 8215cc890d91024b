#include "WebKitSchemes.h"

#include <gio/gio.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <unistd.h>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "GLibLoop.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/NSURLProtocol.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/foundation/Strings.h"

namespace plat::web {
namespace {

// The runner's own resident size.
std::size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// How fast the application's schemes answer WebKit's reads. WebKit reads a stream as fast as it
// answers and sends every 8 KiB to the page's process at once, with no word back of what that
// process has taken: when the page takes less (a page that reads slowly, a busy machine), the
// rest waits in WebKit's queues in the runner (512 MiB streamed unpaced took the runner 200 to
// 500 MiB up). So the runner's own resident size is the sign: after each MiB answered, a runner
// that grew by a sixteenth of it or more waits longer before its next answer (doubling, from 1 ms
// up to a second per MiB), and one that did not waits half as long again (measured, three pages
// at once on a loaded machine: 512 MiB each took the runner 40 to 110 MiB up, in about 1.2 times
// as long). Shared by every stream: the size is the process's.
class AnswerPace {
 public:
  static AnswerPace& shared() {
    static AnswerPace* pace = new AnswerPace();
    return *pace;
  }
  // Seconds until the next answer may go; 0: now (main thread).
  double holding() const {
    double left = nextAnswerAt_ - monotonicSeconds();
    return left > 0 ? left : 0;
  }
  void answered(std::size_t bytes) {
    sinceSample_ += bytes;
    if (sinceSample_ < kSampleBytes) return;
    std::size_t resident = residentBytes();
    if (resident > lastResident_ + sinceSample_ / 16)
      wait_ = std::clamp(wait_ * 2, kShortestWait, kLongestWait);
    else
      wait_ = wait_ / 2 < kShortestWait ? 0 : wait_ / 2;
    lastResident_ = resident;
    sinceSample_ = 0;
    nextAnswerAt_ = monotonicSeconds() + wait_;
  }

 private:
  static constexpr std::size_t kSampleBytes = 1024 * 1024;
  static constexpr double kShortestWait = 0.001;
  static constexpr double kLongestWait = 1.0;
  std::size_t sinceSample_ = 0;
  std::size_t lastResident_ = residentBytes();
  double wait_ = 0;
  double nextAnswerAt_ = 0;
};

// What the protocol has handed over and WebKit has not read yet, shared by the load and the
// stream WebKit reads it from (both on the main thread; a protocol may hand over pieces from
// another).
struct SchemeBody : std::enable_shared_from_this<SchemeBody> {
  // Past this much waiting to be read, the protocol's next piece waits for WebKit.
  static constexpr std::size_t kMaxWaiting = 4 * kNSURLBodyPieceSize;

  // A read WebKit waits on while nothing is there.
  struct PendingRead {
    GTask* task;
    void* buffer;
    gsize count;
    gulong cancelHandler = 0;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Data> pieces;
  std::size_t readOfFront = 0;  // bytes of pieces.front() already read
  std::size_t waiting = 0;      // bytes handed over and not yet read
  bool ended = false;
  std::optional<std::string> failure;
  bool closed = false;
  std::optional<PendingRead> pending;
  std::function<void()> wanted;   // the protocol's next piece, held while too much waits
  std::function<void()> onClose;  // stops the load, on the main thread

  void add(Data&& piece) {
    std::unique_lock lock(mutex);
    if (closed || piece.empty()) return;
    waiting += piece.size();
    pieces.push_back(std::move(piece));
    changed.notify_all();
    wakePendingRead(lock);
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
    std::unique_lock lock(mutex);
    ended = true;
    failure = std::move(why);
    changed.notify_all();
    wakePendingRead(lock);
  }
  void close() {
    std::function<void()> stop;
    {
      std::unique_lock lock(mutex);
      if (closed) return;
      closed = true;
      pieces.clear();
      waiting = 0;
      wanted = nullptr;
      stop = std::move(onClose);
      changed.notify_all();
      wakePendingRead(lock);
    }
    if (stop) RunLoop::main().post(std::move(stop));
  }

  // Up to count bytes (mutex held): the count, 0 at the end, -1 after a failure (why set);
  // nothing while nothing is there. Lets the protocol's next piece come once little waits.
  std::optional<gssize> take(void* buffer, gsize count, std::string& why) {
    if (pieces.empty()) {
      if (!ended && !closed) return std::nullopt;
      if (!failure || closed) return 0;
      why = *failure;
      return -1;
    }
    Data& front = pieces.front();
    std::size_t n = std::min<std::size_t>(count, front.size() - readOfFront);
    std::memcpy(buffer, front.data() + readOfFront, n);
    readOfFront += n;
    waiting -= n;
    if (readOfFront == front.size()) {
      pieces.pop_front();
      readOfFront = 0;
    }
    if (wanted && waiting < kMaxWaiting) RunLoop::main().post(std::exchange(wanted, nullptr));
    return static_cast<gssize>(n);
  }

  // Answers the read WebKit waits on, when there is something to answer (on the main thread).
  void answerPendingRead() {
    std::unique_lock lock(mutex);
    if (!pending) return;
    GCancellable* cancellable = g_task_get_cancellable(pending->task);
    bool cancelled = cancellable && g_cancellable_is_cancelled(cancellable);
    double hold = AnswerPace::shared().holding();
    if (hold && !cancelled && !closed) {
      lock.unlock();
      return answerAfter(hold);
    }
    std::string why;
    std::optional<gssize> n = take(pending->buffer, pending->count, why);
    if (!n && !cancelled) return;
    PendingRead read = *std::exchange(pending, std::nullopt);
    lock.unlock();
    if (read.cancelHandler) g_cancellable_disconnect(cancellable, read.cancelHandler);
    if (n) AnswerPace::shared().answered(static_cast<std::size_t>(std::max<gssize>(*n, 0)));
    answer(read.task, n.value_or(0), why);
  }

  // Answers the waiting read once the pace allows (on the main thread).
  void answerAfter(double seconds) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(std::ceil(seconds * 1000)),
                       +[](gpointer weak) -> gboolean {
                         auto body = static_cast<std::weak_ptr<SchemeBody>*>(weak)->lock();
                         if (body) body->answerPendingRead();
                         return G_SOURCE_REMOVE;
                       },
                       new std::weak_ptr<SchemeBody>(weak_from_this()),
                       +[](gpointer weak) { delete static_cast<std::weak_ptr<SchemeBody>*>(weak); });
  }

  static void answer(GTask* task, gssize n, const std::string& why) {
    if (n < 0)
      g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_FAILED, "%s", why.c_str());
    else
      g_task_return_int(task, n);  // a cancelled task answers its cancellation (it checks)
    g_object_unref(task);
  }

 private:
  void wakePendingRead(std::unique_lock<std::mutex>&) {
    if (!pending) return;
    RunLoop::main().post([weak = weak_from_this()] {
      if (auto body = weak.lock()) body->answerPendingRead();
    });
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

std::shared_ptr<SchemeBody>& bodyOf(GInputStream* stream) {
  return *reinterpret_cast<HarborSchemeStream*>(stream)->body;
}

// WebKit reads 8 KiB at a time, asynchronously: answered from what waits, on the main thread
// (GIO's default would send every read to a worker thread, a hop that cost most of the time),
// or once the protocol's next piece, the end, WebKit's cancellation or the pace allows.
void readBodyAsync(GInputStream* stream, void* buffer, gsize count, int, GCancellable* cancellable,
                   GAsyncReadyCallback callback, gpointer data) {
  GTask* task = g_task_new(stream, cancellable, callback, data);
  auto body = bodyOf(stream);
  std::string why;
  std::optional<gssize> n;
  {
    std::lock_guard lock(body->mutex);
    if (!AnswerPace::shared().holding()) n = body->take(buffer, count, why);
    if (!n) body->pending = SchemeBody::PendingRead{task, buffer, count};
  }
  if (n) {
    AnswerPace::shared().answered(static_cast<std::size_t>(std::max<gssize>(*n, 0)));
    return SchemeBody::answer(task, *n, why);
  }
  std::weak_ptr<SchemeBody> weak = body;
  if (double hold = AnswerPace::shared().holding()) body->answerAfter(hold);
  if (!cancellable) return;
  // Called at once when cancelled already; the answer comes on a later turn either way.
  gulong handler = g_cancellable_connect(
      cancellable, G_CALLBACK(+[](GCancellable*, gpointer weak) {
        RunLoop::main().post([weak = *static_cast<std::weak_ptr<SchemeBody>*>(weak)] {
          if (auto body = weak.lock()) body->answerPendingRead();
        });
      }),
      new std::weak_ptr<SchemeBody>(weak),
      +[](gpointer weak) { delete static_cast<std::weak_ptr<SchemeBody>*>(weak); });
  std::lock_guard lock(body->mutex);
  if (body->pending && body->pending->task == task) body->pending->cancelHandler = handler;
  else if (handler) g_cancellable_disconnect(cancellable, handler);
}

gssize readBodyFinish(GInputStream*, GAsyncResult* result, GError** error) {
  return g_task_propagate_int(G_TASK(result), error);
}

// A reader that reads synchronously (WebKit does not) waits on a thread of its own.
gssize readBody(GInputStream* stream, void* buffer, gsize count, GCancellable* cancellable, GError** error) {
  SchemeBody& body = *bodyOf(stream);
  std::string why;
  std::unique_lock lock(body.mutex);
  std::optional<gssize> n;
  while (!(n = body.take(buffer, count, why))) {
    if (g_cancellable_set_error_if_cancelled(cancellable, error)) return -1;
    body.changed.wait_for(lock, std::chrono::milliseconds(50));
  }
  if (*n < 0) g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, why.c_str());
  return *n;
}

gboolean closeBody(GInputStream* stream, GCancellable*, GError**) {
  bodyOf(stream)->close();
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
  G_INPUT_STREAM_CLASS(klass)->read_async = readBodyAsync;
  G_INPUT_STREAM_CLASS(klass)->read_finish = readBodyFinish;
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
    // protocols serve, as on the device, their header fields too (a range's "Content-Range").
    soup_message_headers_replace(headers, "Access-Control-Allow-Origin", "*");
    soup_message_headers_replace(headers, "Access-Control-Expose-Headers", "*");
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
  if (!protocolClass)
    return finishWithError(request, NSURLErrorWithCode(NSURLErrorUnsupportedURL, url).localizedDescription);
  std::make_shared<SchemeLoad>(request)->start(platform, *protocolClass);
}

}  // namespace plat::web
