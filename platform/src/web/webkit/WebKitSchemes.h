#pragma once
// The application's own schemes ("hbrfile", "assets-library") served to WebKit through the
// platform's URL protocols (NSURLProtocol's registry), with the request's header fields (a
// media element's "Range" among them).
//
// A response's body reaches WebKit as a stream that WebKit reads as it goes: the protocol hands
// over a piece at a time and is asked for the next only while less than a few pieces wait to be
// read, so a body of any length passes through the runner in about a MiB, however large the
// file and however slowly the page takes it. Its length, when the protocol announced one, goes
// to WebKit with it. A protocol that fails after its response fails the stream, and the load.
// When WebKit lets the stream go (the page stopped the load or went away), the protocol is
// stopped and let go.
//
// Threads: the main thread (WebKit's requests arrive there, and the protocols' later pieces are
// read there). WebKit reads the stream asynchronously, and its reads are answered on the main
// thread too; a synchronous reader (WebKit is none) waits on a thread of its own.
#include <webkit2/webkit2.h>

namespace plat::web {

// WebKit's "URI scheme request" callback for the application's schemes.
void serveApplicationScheme(WebKitURISchemeRequest* request, gpointer);

}  // namespace plat::web
