#include "plat/foundation/NSURLProtocol.h"

#include <mutex>
#include <vector>

#include "BuiltInURLProtocols.h"

namespace plat {
namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::shared_ptr<const NSURLProtocol::Class>>& registered() {
  static std::vector<std::shared_ptr<const NSURLProtocol::Class>> classes;
  return classes;
}

}  // namespace

void NSURLProtocol::registerClass(Class protocolClass) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto& classes = registered();
  std::erase_if(classes, [&](const auto& c) { return c->name == protocolClass.name; });
  classes.push_back(std::make_shared<const Class>(std::move(protocolClass)));
}

void NSURLProtocol::unregisterClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::erase_if(registered(), [&](const auto& c) { return c->name == name; });
}

std::shared_ptr<const NSURLProtocol::Class> NSURLProtocol::classForRequest(const NSURLRequestPtr& request) {
  if (!request || !request->URL()) return nullptr;
  std::vector<std::shared_ptr<const Class>> candidates;
  {
    // Asked outside the lock: a protocol's answer may itself look at the registry.
    std::lock_guard<std::mutex> lock(registryMutex());
    candidates.assign(registered().rbegin(), registered().rend());
  }
  for (const auto& c : builtInURLProtocolClasses()) candidates.push_back(c);
  for (const auto& c : candidates)
    if (c->canInitWithRequest && c->canInitWithRequest(request)) return c;
  return nullptr;
}

void NSURLProtocol::initWithRequestCachedResponseClient(const NSURLRequestPtr& request,
                                                        const NSURLResponsePtr& cachedResponse,
                                                        const std::shared_ptr<NSURLProtocolClient>& client) {
  request_ = request;
  cachedResponse_ = cachedResponse;
  client_ = client;
}

}  // namespace plat
