#pragma once
// An HTTP/1.1 server for tests and benchmarks, on 127.0.0.1 only, at a port the system picks,
// over plain TCP or TLS (a self-signed certificate made when the process first needs one).
// Every request is recorded whole: its head as sent and its body (bodies longer than
// kKeptBodyBytes are counted and hashed, not kept). Each connection serves one request and
// closes.
//
// Bounded by construction: the server stops by itself after its lifetime even when a test
// forgets it, every read and write waits at most a few seconds, and at most kMaxConnections
// connections are served at once.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace harbor::testing {

class HTTPTestServer {
 public:
  static constexpr std::size_t kKeptBodyBytes = 4 * 1024 * 1024;
  static constexpr int kMaxConnections = 16;
  static constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ull;  // hash() of no bytes

  enum class Scheme { HTTP, HTTPS };

  struct Request {
    std::string method;
    std::string target;  // path and query as sent
    std::string head;    // the request line and header fields, CR LF separated, without the blank line
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;           // de-chunked; only the first kKeptBodyBytes
    std::uint64_t bodyLength = 0;
    std::uint64_t bodyHash = kHashStart;  // hash() of the whole de-chunked body
    bool chunked = false;
    // The first field of that name (letter case ignored), or nothing.
    std::optional<std::string> header(const std::string& name) const;
  };

  struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // A generated body of this many bytes (byte i is 'a' + i % 26) instead of `body`.
    std::int64_t generatedLength = -1;
    // No Content-Length: the body ends when the connection closes.
    bool closeDelimited = false;
    // Sends only this many bytes of the body, then closes (a server dropping mid-body).
    std::int64_t cutAfter = -1;
    // Called once this many body bytes have gone out (the rest waits until it returns).
    std::int64_t pauseAfter = -1;
    std::function<void()> pause;
  };
  using Handler = std::function<Response(const Request&)>;
  // A response with that status, body and header fields.
  static Response reply(int status, std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    Response response;
    response.status = status;
    response.body = std::move(body);
    response.headers = std::move(headers);
    return response;
  }

  explicit HTTPTestServer(Scheme scheme = Scheme::HTTP, double lifetimeSeconds = 30);
  ~HTTPTestServer();
  HTTPTestServer(const HTTPTestServer&) = delete;
  HTTPTestServer& operator=(const HTTPTestServer&) = delete;

  bool ok() const { return fd_ >= 0; }
  int port() const { return port_; }
  std::string url(const std::string& path) const;

  // Answers requests for the path (the target without its query) with the response, or with
  // what the handler makes. Unknown paths get 404 "not found".
  void route(const std::string& path, Response response);
  void route(const std::string& path, Handler handler);

  std::vector<Request> requests();
  // Waits (real time, bounded) until at least count requests have been answered in full.
  bool waitForRequests(std::size_t count, double timeoutSeconds = 10);

  // Byte i of a generated body.
  static char generatedByte(std::uint64_t i) { return static_cast<char>('a' + i % 26); }
  // FNV-1a of the bytes, going on from the hash of what came before them: a body of any length
  // checked byte for byte without keeping it.
  static constexpr std::uint64_t hash(std::string_view bytes, std::uint64_t from = kHashStart) {
    for (char c : bytes) from = (from ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return from;
  }

 private:
  struct Connection;
  void serve();
  void handle(int fd);

  Scheme scheme_;
  int fd_ = -1;
  int port_ = 0;
  double lifetime_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Handler> routes_;
  std::vector<Request> requests_;
  std::size_t answered_ = 0;
  int live_ = 0;
};

}  // namespace harbor::testing
