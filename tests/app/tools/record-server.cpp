// A test tool for the process tests: an HTTP server on 127.0.0.1 that records every request it
// gets, so that a test can say that nothing reached it, and answers a few fixed paths:
//   /page         an HTML page ("<title>server page</title>")
//   /attachment   a text sent as an attachment (a browser would download it)
//   /octet        bytes of type application/octet-stream (a browser would download them)
//   /silent       takes the request and never answers (until the server stops)
// Anything else gets 404. Usage: record-server PORT-FILE LOG-FILE SECONDS. It writes its port to
// PORT-FILE once it listens, appends "METHOD TARGET" to LOG-FILE for each request, and stops
// after SECONDS (or when killed).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "HTTPTestServer.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: record-server PORT-FILE LOG-FILE SECONDS\n");
    return 2;
  }
  double seconds = std::atof(argv[3]);
  using harbor::testing::HTTPTestServer;
  HTTPTestServer server(HTTPTestServer::Scheme::HTTP, seconds);
  if (!server.ok()) {
    std::fprintf(stderr, "record-server: cannot listen\n");
    return 1;
  }
  std::string log = argv[2];
  auto recorded = [log](HTTPTestServer::Response response) {
    return [log, response](const HTTPTestServer::Request& request) {
      std::ofstream(log, std::ios::app) << request.method << " " << request.target << "\n";
      return response;
    };
  };
  server.route("/page", recorded(HTTPTestServer::reply(200, "<title>server page</title>", {{"Content-Type", "text/html"}})));
  server.route("/attachment", recorded(HTTPTestServer::reply(
                                  200, "downloaded", {{"Content-Type", "text/plain"},
                                                      {"Content-Disposition", "attachment; filename=\"saved.txt\""}})));
  server.route("/octet", recorded(HTTPTestServer::reply(200, std::string(64, 'b'), {{"Content-Type", "application/octet-stream"}})));
  auto end = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                    std::chrono::duration<double>(seconds));
  server.route("/silent", [end](const HTTPTestServer::Request&) {
    std::this_thread::sleep_until(end);
    return HTTPTestServer::reply(504, "");
  });
  {
    std::ofstream port(std::string(argv[1]) + ".partial");
    port << server.port() << "\n";
  }
  std::rename((std::string(argv[1]) + ".partial").c_str(), argv[1]);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return 0;
}
