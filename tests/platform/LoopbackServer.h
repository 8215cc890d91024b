#pragma once
// A tiny HTTP server for tests: listens on 127.0.0.1 only, on a port the system picks, answers
// each request from a table of canned responses, and stops by itself after a few seconds even
// when the test forgets it. One connection at a time; every response closes its connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace harbor::testing {

class LoopbackServer {
 public:
  struct Response {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool hang = false;  // never answers (until the server stops)
  };

  explicit LoopbackServer(double lifetimeSeconds = 10) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 8) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    deadline_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                         std::chrono::duration<double>(lifetimeSeconds));
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }

  bool ok() const { return fd_ >= 0; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  void route(const std::string& path, Response response) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(response);
  }
  // The path's response goes out only once the flag is set (or not at all should the server
  // stop first).
  void holdUntil(const std::string& path, std::shared_ptr<std::atomic<bool>> flag) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_[path] = std::move(flag);
  }
  // Request heads received so far ("GET /path HTTP/1.1\r\nHeader: ...").
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    while (!stop_ && std::chrono::steady_clock::now() < deadline_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      handle(client);
      ::close(client);
    }
  }
  void handle(int client) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return;
      ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    std::string path = head.substr(head.find(' ') + 1);
    path = path.substr(0, path.find(' '));
    Response response;
    bool found = false;
    std::shared_ptr<std::atomic<bool>> heldUntil;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (auto it = held_.find(path); it != held_.end()) heldUntil = it->second;
      requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
      if (auto it = routes_.find(path); it != routes_.end()) {
        response = it->second;
        found = true;
      }
    }
    if (!found) response = Response{404, "text/plain", "not found", {}, false};
    while (heldUntil && !*heldUntil) {
      if (stop_ || std::chrono::steady_clock::now() >= deadline_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (response.hang) {
      while (!stop_ && std::chrono::steady_clock::now() < deadline_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " X\r\nContent-Type: " + response.contentType +
                      "\r\nContent-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
    out += "\r\n" + response.body;
    std::size_t sent = 0;
    while (sent < out.size()) {
      ssize_t n = ::send(client, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::chrono::steady_clock::time_point deadline_;
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, Response> routes_;
  std::map<std::string, std::shared_ptr<std::atomic<bool>>> held_;
  std::vector<std::string> requests_;
};

}  // namespace harbor::testing
