#include "BuiltInURLProtocols.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "plat/foundation/NSHTTPCookieStorage.h"
#include "plat/foundation/Log.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"

namespace plat {
namespace {

bool hasScheme(const NSURLRequestPtr& request, std::initializer_list<std::string_view> schemes) {
  if (!request || !request->URL() || !request->URL()->scheme()) return false;
  for (std::string_view scheme : schemes)
    if (equalsIgnoringCaseASCII(*request->URL()->scheme(), scheme)) return true;
  return false;
}

// ---- file: ---------------------------------------------------------------------------------------

class FileURLProtocol : public NSURLProtocol {
 public:
  static constexpr std::size_t kChunkSize = 256 * 1024;

  static bool canInitWithRequest(const NSURLRequestPtr& request) { return hasScheme(request, {"file"}); }

  ~FileURLProtocol() override { closeFile(); }

  void startLoading() override {
    auto client = this->client();
    const NSURLPtr& url = request()->URL();
    std::string path = url->path();
    // Non-blocking, so that opening a pipe with no writer returns at once; only regular files
    // are read, as a device could never reach its end.
    fd_ = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      long code = errno == EACCES ? NSURLErrorNoPermissionsToReadFile : NSURLErrorFileDoesNotExist;
      client->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(code, url));
      return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      closeFile();
      long code = S_ISDIR(st.st_mode) ? NSURLErrorFileIsDirectory : NSURLErrorNoPermissionsToReadFile;
      client->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(code, url));
      return;
    }
    auto response = NSURLResponse::responseWithURL(url, MIMETypeForPathExtension(url->pathExtension()),
                                                   static_cast<std::int64_t>(st.st_size), std::nullopt);
    client->URLProtocolDidReceiveResponseCacheStoragePolicy(*this, response, NSURLCacheStoragePolicy::NotAllowed);
    readNextPiece();
  }
  void stopLoading() override {
    stopped_ = true;
    // The pieces are read on the main thread; a connection cancelled from its delegate queue
    // leaves the descriptor to that thread.
    if (isMainThread()) {
      closeFile();
    } else {
      RunLoop::main().post([self = std::static_pointer_cast<FileURLProtocol>(shared_from_this())] { self->closeFile(); });
    }
  }

 private:
  // One piece at a time, the next once the client is ready for it (at the earliest on a later
  // turn of the main run loop): a client that wants no more (a size limit reached) stops the
  // load before the next read, so a huge file never sits in memory whole.
  void readNextPiece() {
    if (stopped_ || fd_ < 0) return;
    auto client = this->client();
    const NSURLPtr& url = request()->URL();
    Data chunk(kChunkSize);
    ssize_t n;
    do {
      n = ::read(fd_, chunk.data(), chunk.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      closeFile();
      client->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(NSURLErrorNoPermissionsToReadFile, url));
      return;
    }
    if (n == 0) {
      closeFile();
      client->URLProtocolDidFinishLoading(*this);
      return;
    }
    chunk.resize(static_cast<std::size_t>(n));
    client->URLProtocolDidLoadOwnedData(*this, std::move(chunk));
    client->URLProtocolWhenReadyForMoreData(*this, [weak = weakSelf<FileURLProtocol>()] {
      if (auto self = weak.lock()) self->readNextPiece();
    });
  }
  void closeFile() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

  int fd_ = -1;
  std::atomic<bool> stopped_{false};
};

// ---- data: ---------------------------------------------------------------------------------------

// Base64 as data: URLs carry it: white space ignored, padding optional.
std::optional<Data> forgivingBase64Decode(std::string_view text) {
  std::string compact;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') compact += c;
  if (compact.size() % 4 == 2) compact += "==";
  if (compact.size() % 4 == 3) compact += "=";
  return base64Decode(compact);
}

class DataURLProtocol : public NSURLProtocol {
 public:
  static bool canInitWithRequest(const NSURLRequestPtr& request) { return hasScheme(request, {"data"}); }

  void startLoading() override {
    auto client = this->client();
    const NSURLPtr& url = request()->URL();
    std::string body = url->resourceSpecifier();
    if (std::size_t hash = body.find('#'); hash != std::string::npos) body.resize(hash);
    std::size_t comma = body.find(',');
    if (comma == std::string::npos) {
      client->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(NSURLErrorBadURL, url));
      return;
    }
    auto header = percentDecode(body.substr(0, comma));
    auto payload = percentDecode(body.substr(comma + 1));
    if (!header || !payload) {
      client->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(NSURLErrorBadURL, url));
      return;
    }
    std::string mime;
    std::optional<std::string> charset;
    bool base64 = false;
    std::size_t start = 0;
    for (bool first = true; start <= header->size(); first = false) {
      std::size_t end = header->find(';', start);
      std::string part = header->substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (first) {
        mime = toLowerASCII(part);
      } else if (equalsIgnoringCaseASCII(part, "base64")) {
        base64 = true;
      } else if (startsWith(toLowerASCII(part), "charset=")) {
        charset = part.substr(8);
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    if (mime.empty() || mime.find('/') == std::string::npos) {
      mime = "text/plain";
      if (!charset) charset = "US-ASCII";
    }
    Data bytes;
    if (base64) {
      auto decoded = forgivingBase64Decode(*payload);
      if (!decoded) {
        client->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(NSURLErrorBadURL, url));
        return;
      }
      bytes = std::move(*decoded);
    } else {
      bytes.assign(payload->begin(), payload->end());
    }
    auto response =
        NSURLResponse::responseWithURL(url, mime, static_cast<std::int64_t>(bytes.size()), std::move(charset));
    client->URLProtocolDidReceiveResponseCacheStoragePolicy(*this, response, NSURLCacheStoragePolicy::NotAllowed);
    if (!bytes.empty()) client->URLProtocolDidLoadData(*this, bytes);
    client->URLProtocolDidFinishLoading(*this);
  }
  void stopLoading() override {}
};

// ---- http: and https: over libcurl ---------------------------------------------------------------

long errorCodeForCurl(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return NSURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT: return NSURLErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return NSURLErrorTimedOut;
    case CURLE_TOO_MANY_REDIRECTS: return NSURLErrorHTTPTooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL: return NSURLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT: return NSURLErrorBadURL;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return NSURLErrorBadServerResponse;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return NSURLErrorNetworkConnectionLost;
    case CURLE_BAD_CONTENT_ENCODING: return NSURLErrorCannotDecodeRawData;
    case CURLE_PEER_FAILED_VERIFICATION: return NSURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return NSURLErrorSecureConnectionFailed;
    default: return NSURLErrorUnknown;
  }
}

// libcurl, loaded on the first http(s) load rather than with the program: it brings the TLS,
// Kerberos, LDAP and compression libraries with it, whose loading would otherwise take a good part
// of every launch, while most applications' pages are files.
struct Curl {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
  decltype(&curl_share_init) share_init = nullptr;
  decltype(&curl_share_setopt) share_setopt = nullptr;

  // The library, initialised; null when it cannot be loaded (logged once, with the reason).
  static const Curl* shared() {
    static const Curl* loaded = load();
    return loaded;
  }

 private:
  static const Curl* load() {
    void* handle = nullptr;
    std::string reason;
    // The OpenSSL build and the GnuTLS build share the interface.
    for (const char* name : {"libcurl.so.4", "libcurl-gnutls.so.4"}) {
      handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (handle) break;
      const char* error = ::dlerror();
      reason = error ? error : name;
    }
    static Curl api;
    bool found = handle &&
                 (api.global_init = reinterpret_cast<decltype(api.global_init)>(::dlsym(handle, "curl_global_init"))) &&
                 (api.easy_init = reinterpret_cast<decltype(api.easy_init)>(::dlsym(handle, "curl_easy_init"))) &&
                 (api.easy_setopt = reinterpret_cast<decltype(api.easy_setopt)>(::dlsym(handle, "curl_easy_setopt"))) &&
                 (api.easy_perform = reinterpret_cast<decltype(api.easy_perform)>(::dlsym(handle, "curl_easy_perform"))) &&
                 (api.easy_getinfo = reinterpret_cast<decltype(api.easy_getinfo)>(::dlsym(handle, "curl_easy_getinfo"))) &&
                 (api.easy_cleanup = reinterpret_cast<decltype(api.easy_cleanup)>(::dlsym(handle, "curl_easy_cleanup"))) &&
                 (api.slist_append = reinterpret_cast<decltype(api.slist_append)>(::dlsym(handle, "curl_slist_append"))) &&
                 (api.slist_free_all =
                      reinterpret_cast<decltype(api.slist_free_all)>(::dlsym(handle, "curl_slist_free_all"))) &&
                 (api.share_init = reinterpret_cast<decltype(api.share_init)>(::dlsym(handle, "curl_share_init"))) &&
                 (api.share_setopt = reinterpret_cast<decltype(api.share_setopt)>(::dlsym(handle, "curl_share_setopt")));
    if (!found) {
      if (handle) reason = "a libcurl without the functions it needs";
      NSLog("ERROR: http and https loads are not possible: " + reason);
      return nullptr;
    }
    if (api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      NSLog("ERROR: http and https loads are not possible: libcurl did not initialise");
      return nullptr;
    }
    return &api;
  }
};

bool isTokenCharacter(unsigned char c) {
  return c > 0x20 && c < 0x7f && !std::strchr("()<>@,;:\\\"/[]?={}", c);
}

// An HTTP token: what a method or a header field name must be.
bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (!isTokenCharacter(c)) return false;
  return true;
}

// A header value that cannot end its line early or smuggle another field.
bool isSafeFieldValue(std::string_view value) { return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

// The process's cookie jar: every http(s) load that handles cookies reads and fills it.
CURLSH* sharedCookieJar(const Curl* lib) {
  static std::mutex locks[CURL_LOCK_DATA_LAST];
  static CURLSH* share = [lib] {
    CURLSH* s = lib->share_init();
    lib->share_setopt(s, CURLSHOPT_LOCKFUNC, +[](CURL*, curl_lock_data data, curl_lock_access, void*) {
      locks[data].lock();
    });
    lib->share_setopt(s, CURLSHOPT_UNLOCKFUNC, +[](CURL*, curl_lock_data data, void*) { locks[data].unlock(); });
    lib->share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    return s;
  }();
  return share;
}

// What the transfer thread owns. The protocol object may go away while the thread runs; the
// client stays alive through this state until the thread ends.
struct HTTPTransfer {
  NSURLRequestPtr request;
  std::shared_ptr<NSURLProtocolClient> client;
  std::shared_ptr<NSURLProtocol> protocol;  // for the client's callbacks only
  std::atomic<bool> stopped{false};
  NSHTTPURLResponse::HeaderFields headers;
  bool responseSent = false;
  const Curl* lib = nullptr;
  CURL* curl = nullptr;
  NSInputStreamPtr bodyStream;
  std::int64_t bodySent = 0;
  std::int64_t bodyExpected = -1;
  curl_off_t memoryBodyReported = 0;

  void sendResponse() {
    if (responseSent) return;
    responseSent = true;
    long status = 0;
    char* effective = nullptr;
    lib->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    lib->easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
    NSURLPtr url = effective ? NSURLWithFallback(effective) : request->URL();
    auto response = NSHTTPURLResponse::responseWithURL(url, status, headers);
    if (!stopped) client->URLProtocolDidReceiveResponseCacheStoragePolicy(*protocol, response,
                                                                            NSURLCacheStoragePolicy::Allowed);
  }
  NSURLPtr NSURLWithFallback(const char* text) {
    NSURLPtr url = NSURL::URLWithString(text);
    return url ? url : request->URL();
  }

  static std::size_t onHeader(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<HTTPTransfer*>(user);
    std::string_view line(buffer, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (startsWith(line, "HTTP/")) {
      self->headers.clear();  // a new response (after a redirect or a 100 Continue)
    } else if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      self->headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    return size * count;
  }
  static std::size_t onData(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<HTTPTransfer*>(user);
    if (self->stopped) return 0;
    self->sendResponse();
    if (size * count != 0 && !self->stopped)
      self->client->URLProtocolDidLoadOwnedData(*self->protocol, Data(buffer, buffer + size * count));
    return size * count;
  }
  static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    auto* self = static_cast<HTTPTransfer*>(user);
    if (self->stopped) return 1;
    // A body in memory is sent by curl itself; its progress shows here.
    if (!self->bodyStream && ulnow > self->memoryBodyReported) {
      std::int64_t piece = ulnow - self->memoryBodyReported;
      self->memoryBodyReported = ulnow;
      self->client->URLProtocolDidSendBodyData(*self->protocol, piece, ulnow, self->bodyExpected);
    }
    return 0;
  }
  static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<HTTPTransfer*>(user);
    if (self->stopped) return CURL_READFUNC_ABORT;
    long n = self->bodyStream->read(reinterpret_cast<std::uint8_t*>(buffer), size * count);
    if (n < 0 || self->stopped) return CURL_READFUNC_ABORT;
    if (n > 0) {
      self->bodySent += n;
      self->client->URLProtocolDidSendBodyData(*self->protocol, n, self->bodySent, self->bodyExpected);
    }
    return static_cast<std::size_t>(n);
  }

  void run() {
    curl = lib->easy_init();
    if (!curl) {
      client->URLProtocolDidFailWithError(*protocol, NSURLErrorWithCode(NSURLErrorUnknown, request->URL()));
      return;
    }
    const std::string& method = request->HTTPMethod();
    if (!isToken(method)) {
      lib->easy_cleanup(curl);
      curl = nullptr;
      client->URLProtocolDidFailWithError(*protocol, NSURLErrorWithCode(NSURLErrorBadURL, request->URL()));
      return;
    }
    bodyStream = request->HTTPBodyStream();
    const std::optional<Data>& body = request->HTTPBody();
    bool hasBody = body || bodyStream;
    if (body) bodyExpected = static_cast<std::int64_t>(body->size());
    std::optional<std::string> acceptEncoding;
    curl_slist* fields = nullptr;
    for (const auto& [name, value] : request->allHTTPHeaderFields()) {
      if (!isToken(name) || !isSafeFieldValue(value)) continue;
      if (equalsIgnoringCaseASCII(name, "Accept-Encoding")) {
        acceptEncoding = value;
        continue;
      }
      // curl states the length of the body it sends; a stream's length is taken from here.
      if (equalsIgnoringCaseASCII(name, "Content-Length") && hasBody) {
        if (bodyStream) {
          if (auto length = parseContentLength(value)) bodyExpected = *length;
        }
        continue;
      }
      fields = lib->slist_append(fields, (name + (value.empty() ? ";" : ": " + value)).c_str());
    }
    fields = lib->slist_append(fields, "Expect:");
    long timeout = std::max(1L, static_cast<long>(request->timeoutInterval()));

    lib->easy_setopt(curl, CURLOPT_URL, request->URL()->absoluteString().c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    lib->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    lib->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    lib->easy_setopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    lib->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    lib->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Loopback addresses never go through a proxy.
    lib->easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    lib->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    lib->easy_setopt(curl, CURLOPT_MAXREDIRS, 16L);
    // Any encoding curl can decode, unless the request names its own.
    lib->easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, acceptEncoding ? acceptEncoding->c_str() : "");
    lib->easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024);
    if (request->HTTPShouldHandleCookies() &&
        NSHTTPCookieStorage::sharedHTTPCookieStorage().cookieAcceptPolicy() != NSHTTPCookieAcceptPolicy::Never) {
      lib->easy_setopt(curl, CURLOPT_SHARE, sharedCookieJar(lib));
      lib->easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    }
    if (request->allowsAnyHTTPSCertificate()) {
      lib->easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
      lib->easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    lib->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
    // The platform's timeout is an idle timeout: no data for that long.
    lib->easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib->easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
    lib->easy_setopt(curl, CURLOPT_HTTPHEADER, fields);
    lib->easy_setopt(curl, CURLOPT_HEADERFUNCTION, &HTTPTransfer::onHeader);
    lib->easy_setopt(curl, CURLOPT_HEADERDATA, this);
    lib->easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HTTPTransfer::onData);
    lib->easy_setopt(curl, CURLOPT_WRITEDATA, this);
    lib->easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib->easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &HTTPTransfer::onProgress);
    lib->easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    if (method == "HEAD") {
      lib->easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (bodyStream) {
      bodyStream->open();
      if (method != "POST") lib->easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
      lib->easy_setopt(curl, CURLOPT_POST, 1L);
      lib->easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyExpected));
      lib->easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
      lib->easy_setopt(curl, CURLOPT_READFUNCTION, &HTTPTransfer::onRead);
      lib->easy_setopt(curl, CURLOPT_READDATA, this);
    } else if (method != "GET" || body) {
      if (method != "POST") lib->easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
      lib->easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body ? body->size() : 0));
      lib->easy_setopt(curl, CURLOPT_POSTFIELDS, body && !body->empty() ? reinterpret_cast<const char*>(body->data()) : "");
    }

    CURLcode result = lib->easy_perform(curl);
    if (!stopped) {
      if (result == CURLE_OK) {
        sendResponse();
        if (!stopped) client->URLProtocolDidFinishLoading(*protocol);
      } else {
        client->URLProtocolDidFailWithError(*protocol, NSURLErrorWithCode(errorCodeForCurl(result), request->URL()));
      }
    }
    // A writer still feeding the stream learns that no one reads any more.
    if (bodyStream) bodyStream->close();
    lib->slist_free_all(fields);
    lib->easy_cleanup(curl);
    curl = nullptr;
  }

  static std::optional<std::int64_t> parseContentLength(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value;
  }
};

class HTTPURLProtocol : public NSURLProtocol {
 public:
  static bool canInitWithRequest(const NSURLRequestPtr& request) { return hasScheme(request, {"http", "https"}); }

  void startLoading() override {
    const Curl* lib = Curl::shared();
    if (!lib) {
      client()->URLProtocolDidFailWithError(*this, NSURLErrorWithCode(NSURLErrorCannotConnectToHost, request()->URL()));
      return;
    }
    transfer_ = std::make_shared<HTTPTransfer>();
    transfer_->lib = lib;
    transfer_->request = request();
    transfer_->client = client();
    transfer_->protocol = std::static_pointer_cast<NSURLProtocol>(shared_from_this());
    // The thread holds the transfer (and through it this protocol) until it ends; a stopped
    // transfer ends at curl's next progress check.
    std::thread([transfer = transfer_] {
      transfer->run();
      transfer->protocol.reset();
      transfer->client.reset();
    }).detach();
  }
  void stopLoading() override {
    if (!transfer_) return;
    transfer_->stopped = true;
    // A read waiting on the body stream would hold the thread until the writer wrote again.
    if (auto stream = request()->HTTPBodyStream()) stream->close();
  }

 private:
  std::shared_ptr<HTTPTransfer> transfer_;
};

template <class P>
std::shared_ptr<const NSURLProtocol::Class> makeClass(const char* name) {
  return std::make_shared<const NSURLProtocol::Class>(NSURLProtocol::Class{
      name, [](const NSURLRequestPtr& r) { return P::canInitWithRequest(r); },
      [] { return std::static_pointer_cast<NSURLProtocol>(std::make_shared<P>()); }});
}

}  // namespace

const std::vector<std::shared_ptr<const NSURLProtocol::Class>>& builtInURLProtocolClasses() {
  static const std::vector<std::shared_ptr<const NSURLProtocol::Class>> classes = {
      makeClass<FileURLProtocol>("file"), makeClass<DataURLProtocol>("data"), makeClass<HTTPURLProtocol>("http")};
  return classes;
}

}  // namespace plat
