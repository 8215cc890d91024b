#include "HBRFilesystemURLProtocol.h"

#include <charconv>

#include "HBRFile.h"
#include "HBRFilesystemURL.h"
#include "plat/foundation/NSURLResponse.h"

namespace harbor {
namespace {

constexpr long kNotFound = 404;
constexpr long kOK = 200;
constexpr long kPartialContent = 206;
constexpr long kRangeNotSatisfiable = 416;

void answer(plat::NSURLProtocol& protocol, long status, plat::NSHTTPURLResponse::HeaderFields headers) {
  auto client = protocol.client();
  if (!client) return;
  headers.emplace(headers.begin(), "Cache-Control", "no-cache");
  auto url = protocol.request() ? protocol.request()->URL() : nullptr;
  auto response = plat::NSHTTPURLResponse::responseWithURL(url, status, std::move(headers));
  client->URLProtocolDidReceiveResponseCacheStoragePolicy(protocol, response,
                                                          plat::NSURLCacheStoragePolicy::NotAllowed);
}

void answerWithoutBody(plat::NSURLProtocol& protocol, long status, plat::NSHTTPURLResponse::HeaderFields headers = {}) {
  answer(protocol, status, std::move(headers));
  if (auto client = protocol.client()) client->URLProtocolDidFinishLoading(protocol);
}

std::optional<std::uint64_t> number(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<HBRFilesystemURLProtocol::ByteRange> HBRFilesystemURLProtocol::byteRange(std::string_view header,
                                                                                     std::uint64_t length,
                                                                                     bool& satisfiable) {
  satisfiable = true;
  constexpr std::string_view unit = "bytes=";
  // Only one range of bytes is served; anything else (several ranges, other units, text that
  // reads as no range) is answered with the whole file, as a server that ignores it would.
  if (header.substr(0, unit.size()) != unit || header.find(',') != std::string_view::npos) return std::nullopt;
  std::string_view asked = header.substr(unit.size());
  std::size_t dash = asked.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  std::string_view first = asked.substr(0, dash), last = asked.substr(dash + 1);
  if (first.empty()) {
    // The last n bytes.
    auto suffix = number(last);
    if (!suffix) return std::nullopt;
    if (*suffix == 0 || length == 0) return satisfiable = false, std::nullopt;
    std::uint64_t count = std::min(*suffix, length);
    return ByteRange{length - count, length - 1};
  }
  auto from = number(first);
  auto to = last.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : number(last);
  if (!from || !to || *to < *from) return std::nullopt;
  if (*from >= length) return satisfiable = false, std::nullopt;
  return ByteRange{*from, std::min(*to, length - 1)};
}

void HBRFilesystemURLProtocol::registerClass() {
  plat::NSURLProtocol::registerClass<HBRFilesystemURLProtocol>(kClassName);
}

bool HBRFilesystemURLProtocol::canInitWithRequest(const plat::NSURLRequestPtr& request) {
  return request && request->URL() && request->URL()->scheme() == kHBRFileScheme;
}

bool HBRFilesystemURLProtocol::requestIsCacheEquivalent(const plat::NSURLRequestPtr& a,
                                                        const plat::NSURLRequestPtr& b) {
  if (!a || !b || !a->URL() || !b->URL()) return false;
  return a->URL()->resourceSpecifier() == b->URL()->resourceSpecifier();
}

void HBRFilesystemURLProtocol::startLoading() {
  auto url = HBRFilesystemURL::fileSystemURLWithURL(request() ? request()->URL() : nullptr);
  auto plugin = HBRFile::filePlugin();
  auto fileSystem = plugin ? plugin->filesystemForURL(url) : nullptr;
  // A request that reaches no file system still ends, or the page would wait on it forever.
  if (!fileSystem) return answerWithoutBody(*this, kNotFound);
  std::weak_ptr<HBRFilesystemURLProtocol> weak = weakSelf<HBRFilesystemURLProtocol>();
  fileSystem->openFileAtURL(url, 0, -1, [weak](HBRFileReaderPtr reader, std::optional<std::string> mimeType,
                                               std::int32_t error) {
    if (auto self = weak.lock()) self->serve(std::move(reader), mimeType, error);
  });
}

void HBRFilesystemURLProtocol::serve(HBRFileReaderPtr reader, const std::optional<std::string>& mimeType,
                                     std::int32_t error) {
  if (error != 0 || !reader) return answerWithoutBody(*this, kNotFound);
  std::uint64_t length = reader->length();
  plat::NSHTTPURLResponse::HeaderFields headers;
  if (mimeType) headers.emplace_back("Content-Type", *mimeType);
  headers.emplace_back("Accept-Ranges", "bytes");
  long status = kOK;
  ByteRange range{0, length ? length - 1 : 0};
  if (auto asked = request() ? request()->valueForHTTPHeaderField("Range") : std::nullopt) {
    bool satisfiable = true;
    if (auto part = byteRange(*asked, length, satisfiable)) {
      status = kPartialContent;
      range = *part;
      headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                                                "/" + std::to_string(length));
    } else if (!satisfiable) {
      return answerWithoutBody(*this, kRangeNotSatisfiable, {{"Content-Range", "bytes */" + std::to_string(length)}});
    }
  }
  std::uint64_t count = length ? range.last - range.first + 1 : 0;
  headers.emplace_back("Content-Length", std::to_string(count));
  answer(*this, status, std::move(headers));
  // A piece at a time, each when the client is ready for it: a file of any size passes through
  // a piece of memory, and a load that is let go reads no further.
  plat::NSURLProtocolSendBodyInPieces(self<HBRFilesystemURLProtocol>(), count,
                                      [reader, from = range.first](std::uint64_t offset, std::uint8_t* buffer,
                                                                   std::size_t size) {
                                        return reader->read(from + offset, buffer, size);
                                      });
}

}  // namespace harbor
