#pragma once
// The process-wide side of the WebKit engine: GTK and WebKit started once, and the web context
// that every page shares (one set of WebKit processes). What a page's code may do in those
// processes is decided here, once for all pages:
// - files: the web extension (platform/webkit-extension) cancels every file request outside the
//   sandbox home and the bundle; the engine hands it the roots (updateReadableRoots);
// - workers: shared and service workers are off (their loads would pass no check of ours);
//   dedicated workers load through their page, so the extension sees their requests;
// - downloads: WebKit's own are cancelled (pages download with the File Transfer plugin);
// - memory: each content process has a limit, past which WebKit, or our own watch, ends it;
// - the application's schemes ("hbrfile", "assets-library") are served through the platform's
//   URL protocols.
// What WebKit would decide for one view (permissions, print, choosers, new windows) is answered
// by the view's page (WebKitAnswers.h).
#include <webkit2/webkit2.h>

#include <set>
#include <string>
#include <vector>

#include "plat/web/WebPage.h"

namespace plat::web {

// Whether startWebKit has succeeded.
bool webKitStarted();

// The web context of the pages made from now on. A new one when the storage folder has changed
// since (another home, or the backup default switched): views keep the context they began with.
WebKitWebContext* sharedWebContext();

// What pages may read of the file system: the sandbox home and the application bundle, with
// their links resolved. updateReadableRoots also hands them to the content processes started
// from now on.
const std::vector<std::string>& readableRoots();
void updateReadableRoots();

// Switches off, in a view's settings, what the container does not offer a page (see above).
void applyContainerFeatures(WebKitSettings* settings);

// The content processes' memory, watched from a thread of ours: WebKit's own watch runs on the
// content process's main thread, which a page that allocates in one long loop never gives back.
// A process past the limit is ended (SIGKILL); its page then hears that it ended.
void watchContentProcess(int pid);
// Whether the process was ended by the watch for using too much memory (forgets it).
bool contentProcessEndedForMemory(int pid);
// Ends a content process of ours at once (SIGKILL); false when the number names no process of
// ours. Its page then hears that it ended.
bool endContentProcess(int pid);
// Stops a content process of ours where it is (SIGSTOP), or lets it go on (SIGCONT); false when
// the number names no process of ours.
bool holdContentProcess(int pid, bool hold);

// Every live web view of the engine (the storage commit at resignation and termination waits
// for theirs).
std::set<WebKitWebView*>& liveWebViews();

}  // namespace plat::web
