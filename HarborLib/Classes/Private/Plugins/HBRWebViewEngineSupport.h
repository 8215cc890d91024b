#pragma once
// What the two web view engines do alike: the plugin vote on a navigation, the default policy,
// and the error page after a failed load.
//
// Main thread only.
#include <functional>
#include <optional>

#include "HBRViewController.h"
#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"

namespace harbor {

// The plugin vote: every plugin of the controller's table that is a HBRNavigationVoter is asked
// in the table's order. Nothing when no plugin votes; otherwise false at the first "no" (nobody
// after it is asked), true when all said yes.
std::optional<bool> HBRVoteOnNavigation(HBRViewController& viewController, const plat::NSURLRequestPtr& request,
                                        long navigationType);

// The default policy when no plugin votes: file URLs are loaded in the web view; for anything
// else "HBRPluginHandleOpenURLNotification" is posted with the URL and the navigation refused.
bool HBRDefaultNavigationPolicy(const plat::NSURLRequestPtr& request);
bool HBRDefaultResourcePolicyForURL(const plat::NSURLPtr& url);

// Whether the web view may go where the request leads (a navigation that is no command signal):
// "about:blank" always, the empty document in which the container shows HTML of its own (the
// inline error page), and which is never another application's URL; else the plugin vote, and
// without voters the default policy. No controller: the default policy. The controller hears
// every decision (HBRViewController::didDecideNavigation), so that a refused start page is not
// waited for.
bool HBRDecideNavigation(HBRViewController* viewController, const plat::NSURLRequestPtr& request, long navigationType);

// After a failed page load: releases the user-agent lock, logs "Failed to load webpage with
// error: ..." and, when the controller has an error page, loads it (through `load`) with the
// message in its query. A cancelled load (-999) is no failure to show, and a failure of the
// error page itself does not load it again (which would never end); both still release the
// lock and log. A load cancelled because the web view went on to another one (`superseded`) has
// not failed at all: nothing is logged and the lock stays with the load that replaced it, which
// releases it when it ends.
void HBRHandleFailedLoad(HBRViewController* viewController, const plat::NSError& error,
                         const plat::NSURLPtr& failingURL, bool superseded,
                         const std::function<void(const plat::NSURLRequestPtr&)>& load);

}  // namespace harbor
