#include "HTTPTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace harbor::testing {
namespace {

constexpr int kIOTimeoutMs = 5000;

// One self-signed certificate for 127.0.0.1 per process, made on first use.
SSL_CTX* tlsContext() {
  static SSL_CTX* context = [] {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ctx;
  }();
  return context;
}

bool waitFor(int fd, short events) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, kIOTimeoutMs) > 0;
}

}  // namespace

std::optional<std::string> HTTPTestServer::Request::header(const std::string& name) const {
  for (const auto& [field, value] : headers)
    if (::strcasecmp(field.c_str(), name.c_str()) == 0) return value;
  return std::nullopt;
}

// A client's socket, plain or under TLS; reads and writes give up after kIOTimeoutMs.
struct HTTPTestServer::Connection {
  int fd;
  SSL* ssl = nullptr;
  std::string buffered;

  ~Connection() {
    if (ssl) {
      SSL_shutdown(ssl);
      SSL_free(ssl);
    }
    ::close(fd);
  }
  bool handshake() {
    ssl = SSL_new(tlsContext());
    SSL_set_fd(ssl, fd);
    for (;;) {
      int r = SSL_accept(ssl);
      if (r == 1) return true;
      int e = SSL_get_error(ssl, r);
      if (e == SSL_ERROR_WANT_READ && waitFor(fd, POLLIN)) continue;
      if (e == SSL_ERROR_WANT_WRITE && waitFor(fd, POLLOUT)) continue;
      return false;
    }
  }
  // Appends what arrives to `buffered`; false at the end or on a timeout.
  bool fill() {
    char chunk[65536];
    if (ssl && SSL_pending(ssl) == 0 && !waitFor(fd, POLLIN)) return false;
    if (!ssl && !waitFor(fd, POLLIN)) return false;
    long n = ssl ? SSL_read(ssl, chunk, sizeof chunk) : ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffered.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
  bool writeAll(const char* data, std::size_t size) {
    while (size > 0) {
      if (!waitFor(fd, POLLOUT)) return false;
      long n = ssl ? SSL_write(ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)))
                   : ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool writeAll(const std::string& text) { return writeAll(text.data(), text.size()); }
  // Takes `count` body bytes, keeping the first ones in `kept`.
  bool takeBody(std::uint64_t count, Request& request) {
    while (count > 0) {
      if (buffered.empty() && !fill()) return false;
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffered.size()));
      if (request.body.size() < kKeptBodyBytes)
        request.body.append(buffered, 0, std::min(n, kKeptBodyBytes - request.body.size()));
      request.bodyLength += n;
      request.bodyHash = hash(std::string_view(buffered).substr(0, n), request.bodyHash);
      buffered.erase(0, n);
      count -= n;
    }
    return true;
  }
  std::optional<std::string> line() {
    for (;;) {
      if (std::size_t end = buffered.find("\r\n"); end != std::string::npos) {
        std::string text = buffered.substr(0, end);
        buffered.erase(0, end + 2);
        return text;
      }
      if (buffered.size() > 65536 || !fill()) return std::nullopt;
    }
  }
};

HTTPTestServer::HTTPTestServer(Scheme scheme, double lifetimeSeconds) : scheme_(scheme), lifetime_(lifetimeSeconds) {
  if (scheme_ == Scheme::HTTPS) tlsContext();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 32) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { serve(); });
}

HTTPTestServer::~HTTPTestServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return live_ == 0; });
  if (fd_ >= 0) ::close(fd_);
}

std::string HTTPTestServer::url(const std::string& path) const {
  return std::string(scheme_ == Scheme::HTTPS ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void HTTPTestServer::route(const std::string& path, Response response) {
  route(path, [response](const Request&) { return response; });
}

void HTTPTestServer::route(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(handler);
}

std::vector<HTTPTestServer::Request> HTTPTestServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool HTTPTestServer::waitForRequests(std::size_t count, double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return answered_ >= count; });
}

void HTTPTestServer::serve() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                          std::chrono::duration<double>(lifetime_));
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    if (live_ >= kMaxConnections) {
      ::close(client);
      continue;
    }
    ++live_;
    lock.unlock();
    std::thread([this, client] {
      handle(client);
      std::lock_guard<std::mutex> guard(mutex_);
      --live_;
      changed_.notify_all();
    }).detach();
  }
}

void HTTPTestServer::handle(int fd) {
  Connection connection{fd, nullptr, {}};
  if (scheme_ == Scheme::HTTPS && !connection.handshake()) return;
  Request request;
  auto requestLine = connection.line();
  if (!requestLine) return;
  request.head = *requestLine;
  std::size_t sp1 = requestLine->find(' '), sp2 = requestLine->rfind(' ');
  if (sp1 == std::string::npos || sp2 <= sp1) return;
  request.method = requestLine->substr(0, sp1);
  request.target = requestLine->substr(sp1 + 1, sp2 - sp1 - 1);
  for (;;) {
    auto field = connection.line();
    if (!field) return;
    if (field->empty()) break;
    request.head += "\r\n" + *field;
    std::size_t colon = field->find(':');
    if (colon == std::string::npos) continue;
    std::string value = field->substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    request.headers.emplace_back(field->substr(0, colon), value);
  }
  auto encoding = request.header("Transfer-Encoding");
  if (encoding && ::strcasecmp(encoding->c_str(), "chunked") == 0) {
    request.chunked = true;
    for (;;) {
      auto sizeLine = connection.line();
      if (!sizeLine) return;
      std::uint64_t size = std::stoull(*sizeLine, nullptr, 16);
      if (size == 0) {
        connection.line();
        break;
      }
      if (!connection.takeBody(size, request) || !connection.line()) return;
    }
  } else if (auto length = request.header("Content-Length")) {
    if (!connection.takeBody(std::stoull(*length), request)) return;
  }

  std::string path = request.target.substr(0, request.target.find('?'));
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = routes_.find(path); it != routes_.end()) handler = it->second;
  }
  Response response = handler ? handler(request) : reply(404, "not found", {{"Content-Type", "text/plain"}});
  bool head = request.method == "HEAD";
  {
    // Recorded before the answer goes out, so a client that has its answer finds its request.
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
  }
  std::int64_t length =
      response.generatedLength >= 0 ? response.generatedLength : static_cast<std::int64_t>(response.body.size());
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " Test\r\nConnection: close\r\n";
  bool hasLength = false;
  for (const auto& [name, value] : response.headers) {
    out += name + ": " + value + "\r\n";
    if (::strcasecmp(name.c_str(), "Content-Length") == 0) hasLength = true;
  }
  if (!response.closeDelimited && !hasLength) out += "Content-Length: " + std::to_string(length) + "\r\n";
  out += "\r\n";
  bool sent = connection.writeAll(out);
  bool bodyless = head || response.status == 304 || response.status == 204;
  std::int64_t limit = response.cutAfter >= 0 ? std::min(response.cutAfter, length) : length;
  std::string chunk;
  for (std::int64_t offset = 0; sent && !bodyless && offset < limit && !stop_;) {
    std::int64_t end = std::min(limit, offset + 256 * 1024);
    if (response.pauseAfter > offset && response.pauseAfter < end) end = response.pauseAfter;
    if (response.generatedLength >= 0) {
      // The pattern repeats every 26 bytes: one long run of it serves every piece.
      static const std::string pattern = [] {
        std::string run(256 * 1024 + 26, ' ');
        for (std::size_t i = 0; i < run.size(); ++i) run[i] = generatedByte(i);
        return run;
      }();
      chunk.assign(pattern, static_cast<std::size_t>(offset % 26), static_cast<std::size_t>(end - offset));
    } else {
      chunk.assign(response.body, static_cast<std::size_t>(offset), static_cast<std::size_t>(end - offset));
    }
    sent = connection.writeAll(chunk);
    offset = end;
    if (offset == response.pauseAfter && response.pause) response.pause();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++answered_;
  changed_.notify_all();
}

}  // namespace harbor::testing
