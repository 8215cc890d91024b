// The sandbox on WebKit, tried as a hostile page would: WebKit runs a page's code in processes of
// its own, so whatever a worker, a frame or a navigation could reach there, the page reaches.
// Each door is tried from a real page: workers reading host files, navigations the container
// cannot read (top level and frames, against a loopback server that records every request),
// frames posting to the bridge, a top-level file outside the sandbox, print, the file chooser,
// permissions, the clipboard, and a page whose content process keeps ending.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "HTTPTestServer.h"
#include "WebKitFixture.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURLError.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIPasteboard.h"
#include "plat/uikit/UIViewController.h"
#include "plat/uikit/UIWindow.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/webkit/WKWebView.h"

namespace {

namespace fs = std::filesystem;
using harbor::testing::HTTPTestServer;
using harbor::testing::kPatience;

class WebKitSandboxTest : public harbor::testing::WebKitEngineTest {
 protected:
  std::string fileURL(const std::string& path) { return plat::NSURL::fileURLWithPath(path)->absoluteString(); }

  // A UIWebView on a page of the bundle, with its delegate, waited for until its title says so.
  void open(const std::string& name, const std::string& html, const std::string& title = "ready") {
    writeFile(inBundle(name), html);
    view_ = std::make_shared<plat::UIWebView>();
    view_->init();
    view_->setDelegate(loads_);
    view_->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(inBundle(name))));
    ASSERT_TRUE(waitForTitle(title)) << "the page did not load; its title is '" << this->title() << "'";
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return loads_->finished > 0; }, kPatience)) << "no finished load";
  }
  bool waitForTitle(const std::string& wanted) {
    return plat::web::turnMainLoopUntil([&] { return title() == wanted; }, kPatience);
  }
  bool waitForLog(const std::string& text) {
    return plat::web::turnMainLoopUntil([&] { return log_->contains(text); }, kPatience);
  }
  std::string evaluate(const std::string& script) { return view_->stringByEvaluatingJavaScriptFromString(script); }

  struct Loads : plat::UIWebViewDelegate {
    int started = 0, finished = 0;
    std::vector<plat::NSError> failures;
    void webViewDidStartLoad(plat::UIWebView&) override { ++started; }
    void webViewDidFinishLoad(plat::UIWebView&) override { ++finished; }
    void webViewDidFailLoadWithError(plat::UIWebView&, const plat::NSError& error) override { failures.push_back(error); }
  };
  std::shared_ptr<Loads> loads_ = std::make_shared<Loads>();
};

// No script of the page reads a file outside the sandbox home and the bundle: not the page, not a
// dedicated worker (by synchronous XHR, fetch, importScripts or a module import), whatever way the
// path is spelled; shared and service workers, whose loads no check of ours would see, do not
// exist. The same reads inside the bundle succeed, so the refusals are the check's.
TEST_F(WebKitSandboxTest, NoWorkerOfThePageReadsOutsideTheSandbox) {
  std::string outside = (fs::path(home()).parent_path() / "outside.txt").string();
  writeFile(outside, "secret");
  writeFile(inBundle("www/inside.txt"), "inside");
  writeFile(inBundle("www/inside.js"), "self.insideLoaded = true;");
  fs::create_symlink(outside, inHome("Documents/link.txt"));
  std::string www = fileURL(inBundle("www"));
  std::vector<std::string> outsideURLs = {
      fileURL(outside),
      "file:///etc/passwd",
      "file:///proc/self/environ",
      www + "/../../" + fs::relative(outside, inBundle("")).string(),  // climbing out of the bundle
      www + "/%2e%2e/%2e%2e/" + fs::relative(outside, inBundle("")).string(),
      fileURL(inHome("Documents/link.txt")),  // a link out of the home
  };
  std::string list;
  for (const auto& url : outsideURLs) list += (list.empty() ? "'" : ", '") + url + "'";
  writeFile(inBundle("www/worker.js"), R"(
    function attempt(url) {
      var out = [];
      try { var x = new XMLHttpRequest(); x.open('GET', url, false); x.send(); out.push('xhr ' + x.responseText.length); }
      catch (e) { out.push('xhr refused'); }
      try { importScripts(url); out.push('importScripts read'); } catch (e) { out.push('importScripts refused'); }
      return fetch(url).then(function (r) { return r.text(); })
        .then(function (t) { out.push('fetch ' + t.length); }, function () { out.push('fetch refused'); })
        .then(function () { return import(url); })
        .then(function () { out.push('import read'); }, function () { out.push('import refused'); })
        .then(function () { return out.join(', '); });
    }
    onmessage = function (event) {
      Promise.all(event.data.map(attempt)).then(function (results) { postMessage(results); });
    };
  )");
  open("www/index.html", "<!doctype html><title>loading</title><body><script>var outside = [" + list + "];" + R"(
    window.kinds = typeof SharedWorker + ' ' + typeof navigator.serviceWorker;
    var worker = new Worker('worker.js');
    worker.onmessage = function (event) { window.results = event.data; document.title = 'ready'; };
    worker.postMessage(outside.concat(['inside.txt', 'inside.js']));
  </script></body>)");
  EXPECT_EQ(evaluate("kinds"), "undefined undefined") << "shared or service workers exist";
  for (std::size_t i = 0; i < outsideURLs.size(); ++i) {
    EXPECT_EQ(evaluate("results[" + std::to_string(i) + "]"),
              "xhr refused, importScripts refused, fetch refused, import refused")
        << outsideURLs[i];
  }
  std::string inside = evaluate("results[" + std::to_string(outsideURLs.size()) + "]");
  EXPECT_EQ(inside.rfind("xhr 6, ", 0), 0u) << "the worker could not read the bundle: " << inside;
  EXPECT_TRUE(log_->contains("WebKit: a page may not read " + fileURL(outside))) << "the refusal says why";
}

// Every navigation ends in a decision: a URL the container cannot read is refused with the
// reason, as the top page and as a frame; one it can read is judged by the view's delegate as
// WebKit would load it (WebKit escapes some characters itself). Nothing reaches the server.
TEST_F(WebKitSandboxTest, NavigationsTheContainerCannotReadAreRefused) {
  HTTPTestServer server;
  ASSERT_TRUE(server.ok());
  std::string origin = server.url("/");
  struct Case {
    std::string tail;     // after the origin
    std::string refusal;  // why it is refused, or "" when it is judged
    std::string judged;   // the URL the delegate judges
  };
  const std::vector<Case> cases = {
      {"a|b", "'|' at character", ""},
      {"%zz", "a '%' not followed by two hex digits", ""},
      {"a[b]", "a bracket in its path", ""},
      {"page?x=|", "'|' at character", ""},
      {"a^b", "", "a%5Eb"},
      {"a{b}", "", "a%7Bb%7D"},
      {"a`b", "", "a%60b"},
      {"a b", "", "a%20b"},
      {"a\"b", "", "a%22b"},
      {"a<b", "", "a%3Cb"},
  };
  // The filter's part: only the application's own files.
  struct Judge : plat::UIWebViewDelegate {
    std::vector<std::string> asked;
    bool webViewShouldStartLoadWithRequestNavigationType(plat::UIWebView&, const plat::NSURLRequestPtr& request,
                                                         plat::UIWebViewNavigationType) override {
      if (request->URL()->isFileURL()) return true;
      asked.push_back(request->URL()->absoluteString());
      return false;
    }
  };
  std::string list;
  for (const Case& c : cases) list += (list.empty() ? "'" : ", '") + origin + c.tail + "'";
  for (bool asFrame : {true, false}) {
    SCOPED_TRACE(asFrame ? "frames" : "top page");
    log_->clear();
    auto judge = std::make_shared<Judge>();
    // Frames all at once (each is a frame of its own); the top page one navigation at a time
    // (a page's next navigation would cancel one not yet decided).
    std::string navigate = asFrame ? "urls.forEach(function (u) { var f = document.createElement('iframe'); f.src = u;"
                                     " document.body.appendChild(f); });"
                                   : "";
    writeFile(inBundle("www/index.html"), "<!doctype html><title>ready</title><body><script>var urls = [" + list + "];" +
                                              navigate + "</script></body>");
    view_ = std::make_shared<plat::UIWebView>();
    view_->init();
    view_->setDelegate(judge);
    view_->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(inBundle("www/index.html"))));
    ASSERT_TRUE(waitForTitle("ready"));
    for (const Case& c : cases) {
      if (!asFrame) {
        std::string literal;
        plat::json::appendQuoted(literal, origin + c.tail);
        evaluate("location.href = " + literal);
      }
      if (c.refusal.empty()) {
        std::string judged = origin + c.judged;
        EXPECT_TRUE(plat::web::turnMainLoopUntil(
            [&] { return std::find(judge->asked.begin(), judge->asked.end(), judged) != judge->asked.end(); }, kPatience))
            << c.tail << " was not judged as " << judged;
      } else {
        EXPECT_TRUE(waitForLog("WebKit: refused a navigation to " + origin + c.tail +
                               ": the container cannot read the URL (" + c.refusal))
            << c.tail;
      }
    }
    EXPECT_EQ(title(), "ready") << "the page was left";
    EXPECT_TRUE(server.requests().empty()) << "a request reached the server: " << server.requests().front().target;
  }
}

// The bridge's handlers answer the main frame and frames whose URL was allowed; a frame nobody
// allowed (here an empty frame the page writes into) posts into nothing, logged once.
TEST_F(WebKitSandboxTest, OnlyAllowedFramesReachTheBridge) {
  struct Handler : plat::WKScriptMessageHandler {
    std::vector<std::string> bodies;
    void userContentControllerDidReceiveScriptMessage(plat::WKUserContentController&,
                                                      const std::shared_ptr<plat::WKScriptMessage>& message) override {
      bodies.push_back(message->body().stringOr("?"));
    }
  };
  auto handler = std::make_shared<Handler>();
  writeFile(inBundle("www/child.html"), "<script>webkit.messageHandlers.harbor.postMessage('allowed frame');</script>");
  writeFile(inBundle("www/index.html"), R"(<!doctype html><title>loading</title><body><script>
    webkit.messageHandlers.harbor.postMessage('main frame');
    var child = document.createElement('iframe');
    child.src = 'child.html';
    child.onload = function () {
      var empty = document.createElement('iframe');
      document.body.appendChild(empty);
      empty.contentWindow.eval("webkit.messageHandlers.harbor.postMessage('empty frame');" +
                               "webkit.messageHandlers.harbor.postMessage('empty frame again');");
      document.title = 'ready';
    };
    document.body.appendChild(child);
  </script></body>)");
  auto wk = std::make_shared<plat::WKWebView>();
  wk->initWithFrame(plat::CGRectZero);
  wk->configuration()->userContentController()->addScriptMessageHandler(handler, "harbor");
  wk->loadFileURL(plat::NSURL::fileURLWithPath(inBundle("www/index.html")), plat::NSURL::fileURLWithPath(inBundle("www"), true));
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return wk->page()->title() == "ready"; }, kPatience));
  ASSERT_TRUE(waitForLog("WebKit: dropped the messages to 'harbor' of a frame the navigation filter did not allow (about:blank)"));
  plat::web::turnMainLoopUntil([&] { return handler->bodies.size() >= 2; }, kPatience);
  EXPECT_EQ(handler->bodies, (std::vector<std::string>{"main frame", "allowed frame"}));
  EXPECT_EQ(log_->count("WebKit: dropped the messages"), 1u) << "logged once per frame";
}

// A top-level file outside the sandbox is a failed load (with the reason), never an empty page
// reported as loaded; an error page's query does not change which file it is.
TEST_F(WebKitSandboxTest, ATopLevelFileOutsideTheSandboxFailsToLoad) {
  std::string outside = (fs::path(home()).parent_path() / "outside.html").string();
  writeFile(outside, "<title>outside</title>");
  writeFile(inBundle("www/error.html"), "<title>error page</title>");
  open("www/index.html", "<!doctype html><title>ready</title>");
  int finished = loads_->finished;
  evaluate("location.href = '" + fileURL(outside) + "'");
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loads_->failures.empty(); }, kPatience));
  EXPECT_EQ(loads_->failures.front().code, plat::NSURLErrorNoPermissionsToReadFile);
  EXPECT_EQ(loads_->finished, finished) << "the refused page was reported as loaded";
  EXPECT_TRUE(log_->contains("WebKit: a page may not read " + fileURL(outside)));
  view_->loadRequest(plat::NSURLRequest::requestWithURL(
      plat::NSURL::URLWithString(fileURL(inBundle("www/error.html")) + "?error=Failed%20to%20load#top")));
  EXPECT_TRUE(waitForTitle("error page"));
}

// What WebKit would decide or show by itself is the container's: print is cancelled (the page
// goes on at once), permissions denied (the clipboard granted), each logged; element full screen
// and web notifications are not offered.
TEST_F(WebKitSandboxTest, PrintFullScreenAndPermissionsAreTheContainers) {
  open("www/index.html", R"(<!doctype html><title>ready</title><body><div id="box">box</div><script>
    function note(text) { window.notes = (window.notes || []).concat([text]); }
    window.tryAll = function () {
      note('full screen ' + typeof document.getElementById('box').requestFullscreen);
      window.print();
      note('printed');
      navigator.geolocation.getCurrentPosition(function () { note('position'); }, function (e) { note('no position ' + e.code); });
      navigator.permissions.query({name: 'geolocation'}).then(function (s) { note('geolocation ' + s.state); });
      note('notifications ' + typeof Notification);
    };
    document.body.addEventListener('click', window.tryAll);
  </script></body>)");
  ASSERT_TRUE(view_->page()->simulateTap(20, 20));
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return evaluate("(window.notes || []).length") == "5"; }, kPatience))
      << evaluate("String(window.notes)");
  std::string notes = evaluate("notes.join('; ')");
  EXPECT_NE(notes.find("printed"), std::string::npos);
  EXPECT_NE(notes.find("full screen undefined"), std::string::npos) << notes;
  EXPECT_NE(notes.find("no position 1"), std::string::npos) << notes;
  EXPECT_NE(notes.find("geolocation denied"), std::string::npos) << notes;
  EXPECT_NE(notes.find("notifications undefined"), std::string::npos) << notes;
  for (const char* line : {"WebKit: the page asked to print: cancelled", "WebKit: the page asked for the device's position: denied",
                           "WebKit: the page asked whether it may use geolocation: denied"})
    EXPECT_TRUE(log_->contains(line)) << line << "\n" << notes;
}

// The page's file input is answered as the device answers it: the photo library's picker, then
// a picture the page reads, or nothing when the picker is cancelled; never the host's chooser.
TEST_F(WebKitSandboxTest, TheFileChooserIsThePhotoLibrarysPicker) {
  struct Delegate : plat::UIApplicationDelegate {
    std::shared_ptr<plat::UIWindow> window_ = std::make_shared<plat::UIWindow>();
    std::shared_ptr<plat::UIWindow> window() const override { return window_; }
  };
  auto delegate = std::make_shared<Delegate>();
  delegate->window_->setRootViewController(std::make_shared<plat::UIViewController>());
  plat::UIApplication::sharedApplication()->setDelegate(delegate);
  open("www/index.html", R"(<!doctype html><title>ready</title><body style="margin:0">
    <input id="file" type="file" accept="image/*" style="position:fixed;left:0;top:0;width:300px;height:100px">
    <script>
    var input = document.getElementById('file');
    input.onchange = function () {
      var reader = new FileReader();
      reader.onload = function () {
        var start = new Uint8Array(reader.result, 0, 3);
        document.title = 'picked ' + input.files[0].type + ' ' + Array.prototype.join.call(start, ',');
      };
      reader.readAsArrayBuffer(input.files[0]);
    };
    input.addEventListener('cancel', function () { document.title = 'cancelled'; });
  </script></body>)");
  plat::UIDriver::shared().setPickerAutoAnswer([](plat::UIDrivenPicker& picker) { picker.cancelPicking(); });
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("cancelled"));
  EXPECT_TRUE(log_->contains("WebKit: the page's file chooser (image/*) -> cancelled"));

  plat::NSURLPtr photo = plat::SimulatedPhotoLibrary::addAsset(
      plat::UIImageJPEGRepresentation(*plat::SimulatedTestPicture(64, 48), 0.9), "JPG");
  ASSERT_TRUE(photo);
  plat::UIDriver::shared().setPickerAutoAnswer([photo](plat::UIDrivenPicker& picker) {
    EXPECT_EQ(picker.pickerSourceType(), plat::UIImagePickerControllerSourceTypePhotoLibrary);
    EXPECT_TRUE(picker.pickAsset(photo));
  });
  plat::web::turnMainLoopUntil([] { return false; }, 1);  // a tap of its own, not a double tap
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("picked image/jpeg 255,216,255")) << title();
  EXPECT_TRUE(log_->contains("WebKit: the page's file chooser (image/*) -> 1 file(s)"));
  plat::UIDriver::shared().setPickerAutoAnswer(nullptr);
  plat::UIApplication::sharedApplication()->setDelegate(nullptr);
}

// The page's clipboard and the pasteboard the plugins use are one.
TEST_F(WebKitSandboxTest, ThePagesClipboardIsTheDevicesPasteboard) {
  open("www/index.html", R"(<!doctype html><title>ready</title><body style="margin:0;height:500px"><script>
    var step = 0;
    document.body.addEventListener('click', function () {
      if (step++ === 0) {
        navigator.clipboard.writeText('copied by the page').then(function () { document.title = 'copied'; });
      } else {
        navigator.clipboard.readText().then(function (text) { document.title = 'pasted ' + text; },
                                            function (e) { document.title = 'no paste ' + e; });
      }
    });
  </script></body>)");
  auto pasteboard = plat::UIPasteboard::generalPasteboard();
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  ASSERT_TRUE(waitForTitle("copied"));
  EXPECT_EQ(pasteboard->string(), "copied by the page");
  pasteboard->setString("copied by a plugin");
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("pasted copied by a plugin")) << title();
}

// What the container runs in a page (an evaluation under either engine, a call of the page's
// function: every answer and event of the bridge) is no person's act: the page sees no user
// activation in it, before or after, so it cannot use it to read the clipboard, open a chooser
// or ask for a window. A tap still is one.
TEST_F(WebKitSandboxTest, WhatTheContainerRunsInAPageIsNoUsersGesture) {
  const std::string probe = "String(navigator.userActivation.isActive)";
  const std::string ever = "String(navigator.userActivation.hasBeenActive)";
  open("www/index.html", R"(<!doctype html><title>ready</title><body style="margin:0;height:500px"><script>
    document.body.addEventListener('click', function () { document.title = 'tapped ' + navigator.userActivation.isActive; });
  </script></body>)");
  harbor::testing::RecordedWKWebView wk("<!doctype html><script>window.webkit.messageHandlers.harbor.postMessage('loaded');</script>");
  ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !wk.recorder->bodies.empty(); }, kPatience));
  auto answerOf = [](auto start) {
    std::optional<plat::Value> answer;
    start([&](const plat::Value& value, const std::optional<plat::NSError>& error) {
      answer = error ? plat::Value("error " + error->localizedDescription) : value;
    });
    EXPECT_TRUE(plat::web::turnMainLoopUntil([&] { return answer.has_value(); }, kPatience));
    return answer ? answer->stringOr("(not text)") : std::string("(no answer)");
  };
  struct Case {
    const char* how;
    std::function<std::string(const std::string& script)> run;
  };
  const std::vector<Case> cases = {
      {"UIWebView's evaluation", [&](const std::string& script) { return evaluate(script); }},
      {"WKWebView's evaluation",
       [&](const std::string& script) {
         return answerOf([&](auto done) { wk.view->evaluateJavaScript(script, done); });
       }},
      {"WKWebView's call of a function",
       [&](const std::string& script) {
         return answerOf([&](auto done) { wk.view->callJavaScriptFunction("return " + script + ";", {}, done); });
       }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(probe), "false") << c.how << " carries a gesture";
    EXPECT_EQ(c.run(ever), "false") << c.how << " left an activation behind";
  }
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("tapped true")) << title();
}

// The page's clipboard is the container's pasteboard and never the desktop's: the page reads
// the pasteboard's text, not the user's, and what it copies (by script, or by selecting text,
// which needs no tap) reaches the pasteboard and leaves the display's clipboard and primary
// selection as they were. Tests run on a display of their own; nothing here is the machine's.
TEST_F(WebKitSandboxTest, ThePagesClipboardIsNeverTheDesktops) {
  plat::web::setDisplaySelectionTextForTesting("CLIPBOARD", "the user's own text");
  plat::web::setDisplaySelectionTextForTesting("PRIMARY", std::nullopt);
  auto pasteboard = plat::UIPasteboard::generalPasteboard();
  pasteboard->setString("the container's text");
  open("www/index.html", R"(<!doctype html><title>ready</title><body style="margin:0;height:500px">
    <p id="p">selected by the page</p><script>
    getSelection().selectAllChildren(document.getElementById('p'));
    var step = 0;
    document.body.addEventListener('click', function () {
      if (step++ === 0) {
        navigator.clipboard.readText().then(function (text) { document.title = 'read ' + text; },
                                            function (e) { document.title = 'no read ' + e; });
      } else {
        getSelection().selectAllChildren(document.getElementById('p'));
        document.title = 'copied ' + document.execCommand('copy');
      }
    });
  </script></body>)");
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("read the container's text")) << title();
  plat::web::turnMainLoopUntil([] { return false; }, 1);  // a tap of its own, not a double tap
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("copied true")) << title();
  EXPECT_EQ(pasteboard->string(), "selected by the page");
  EXPECT_EQ(plat::web::displaySelectionTextForTesting("CLIPBOARD"), "the user's own text");
  EXPECT_EQ(plat::web::displaySelectionTextForTesting("PRIMARY"), std::nullopt);
  plat::web::setDisplaySelectionTextForTesting("CLIPBOARD", std::nullopt);
}

// What is copied to the pasteboard pastes back as it was copied, also on WebKit, where the
// pasteboard's text stands on the pages' clipboard: NUL characters, line ends of every kind,
// nothing at all, long text.
TEST_F(WebKitSandboxTest, ThePasteboardGivesBackTheTextAsItWasCopied) {
  auto pasteboard = plat::UIPasteboard::generalPasteboard();
  const std::vector<std::string> texts = {std::string("a\0b", 3), std::string("\0", 1), "a\r\nb", "line\rend", "",
                                          "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80", std::string(1 << 20, 'x') + "\r\n"};
  for (const std::string& text : texts) {
    pasteboard->setValueForPasteboardType(plat::Value(text), plat::kUTTypeText);
    plat::Value pasted = pasteboard->valueForPasteboardType(plat::kUTTypeText);
    EXPECT_EQ(pasted.isString() ? pasted.asString() : "(no text)", text) << text.substr(0, 40);
    pasteboard->setString(text);
    EXPECT_EQ(pasteboard->string(), text) << text.substr(0, 40);
  }
}

// A request to capture the screen is refused by the container and logged, as the camera's is;
// WebKit's own would go to the desktop's screen-cast portal before the container is asked.
TEST_F(WebKitSandboxTest, ScreenCaptureIsRefusedAndLogged) {
  open("www/index.html", R"(<!doctype html><title>ready</title><body style="margin:0;height:500px"><script>
    document.body.addEventListener('click', function () {
      navigator.mediaDevices.getDisplayMedia({video: true}).then(function () { document.title = 'captured'; },
                                                                 function (e) { document.title = 'refused ' + e.name; });
    });
  </script></body>)");
  ASSERT_TRUE(view_->page()->simulateTap(50, 50));
  EXPECT_TRUE(waitForTitle("refused NotAllowedError")) << title();
  EXPECT_TRUE(waitForLog("WebKit: the page asked for the screen: denied (the container shares no screen)"));
}

// A page whose content process keeps ending is reloaded three times within a minute, each a load
// of its own, and then fails to load (the engines show their error page) instead of coming back
// for ever; the failure names the page, so that an engine tells its error page's own failure by
// it. When that process ends too (the error page cannot live either), nothing is loaded again,
// not even for the container's scripts (a plugin answering late): a page that could not live at
// all went round for ever, and a message to the page started a process of its own. Whoever waits
// on the page hears that it stays empty from the engine itself, not from a log line a page could
// write.
TEST_F(WebKitSandboxTest, APageWhoseProcessKeepsEndingIsReloadedThreeTimesThenFails) {
  open("www/index.html", "<!doctype html><title>ready</title><body>page</body>");
  const std::string page = fileURL(inBundle("www/index.html"));
  std::vector<std::string> emptied;
  auto observer = std::make_shared<int>(0);
  plat::NSNotificationCenter::defaultCenter().addObserver(
      observer, plat::web::WebPageStaysEmptyNotification, nullptr,
      [&emptied](const plat::NSNotification& n) { emptied.push_back(n.userInfo["reason"].stringOr()); });
  for (int round = 1; round <= 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int started = loads_->started;
    std::vector<pid_t> children;
    // The process of the page on show (after the fourth round: the empty document left in its place).
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !(children = harbor::testing::contentProcessesOfOurs()).empty(); },
                                             kPatience));
    for (pid_t child : children) ::kill(child, SIGKILL);
    if (round <= 3) {
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return loads_->finished >= round + 1; }, kPatience))
          << "the page was not reloaded as a load";
      EXPECT_EQ(loads_->started, started + 1);
      EXPECT_TRUE(loads_->failures.empty());
    } else if (round == 4) {
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loads_->failures.empty(); }, kPatience))
          << "the fourth end brought no failure";
      EXPECT_EQ(loads_->failures.front().localizedDescription, "The page's content process ended");
      EXPECT_EQ(loads_->failures.front().userInfo[plat::NSURLErrorFailingURLStringErrorKey].stringOr(), page);
      EXPECT_TRUE(log_->contains("(3 reloads within a minute already); the page is not reloaded, its load fails"));
      // Nobody loads anything in its place here.
      EXPECT_TRUE(plat::web::turnMainLoopUntil(
          [&] { return log_->contains("WebKit: the page stays empty: its content process crashed and nothing loads in its place"); },
          kPatience));
      EXPECT_EQ(emptied, std::vector<std::string>{"its content process crashed and nothing loads in its place"});
    } else {
      ASSERT_TRUE(plat::web::turnMainLoopUntil(
          [&] {
            return log_->contains("WebKit: the page stays empty: its content process crashed again, after 3 reloads and "
                                  "a failed one within a minute");
          },
          kPatience))
          << "the fifth end was not the last";
      // Nothing comes back by itself: looked at after a while, not at the instant of the line.
      plat::web::turnMainLoopUntil([] { return false; }, 2);
      EXPECT_TRUE(harbor::testing::contentProcessesOfOurs().empty()) << "something was loaded again";
      ASSERT_EQ(emptied.size(), 2u);
      EXPECT_EQ(emptied[1], "its content process crashed again, after 3 reloads and a failed one within a minute");
      // Nor for the container's scripts and calls (a plugin answering late): each hears that the
      // page is gone, at once, and no process starts for them.
      std::vector<std::string> answers;
      view_->evaluateJavaScriptFromString("'answered'", [&](const std::string& answer) { answers.push_back("sync " + answer); });
      EXPECT_EQ(answers, std::vector<std::string>{"sync "}) << "the bridge's evaluation is answered before it returns";
      auto gone = [&](const char* kind) {
        return [&answers, kind](const plat::web::WebPage::Evaluation& e) {
          answers.push_back(std::string(kind) + (e.invalidated ? " gone" : " answered"));
        };
      };
      view_->page()->evaluateAsync("'answered'", gone("script"));
      view_->page()->callFunctionAsync("return 'answered';", {}, gone("call"));
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return answers.size() == 3; }, kPatience));
      EXPECT_EQ(answers, (std::vector<std::string>{"sync ", "script gone", "call gone"}));
      plat::web::turnMainLoopUntil([] { return false; }, 2);
      EXPECT_TRUE(harbor::testing::contentProcessesOfOurs().empty()) << "a process was started for the container's scripts";
      EXPECT_EQ(loads_->started, started);
      EXPECT_EQ(loads_->failures.size(), 1u);
    }
  }
  EXPECT_EQ(log_->count("WebKit: the page's content process crashed; reloading the page"), 3u);
  plat::NSNotificationCenter::defaultCenter().removeObserver(observer.get());
}

}  // namespace
