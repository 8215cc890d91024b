// The start-up benchmark's baseline: the least a launch of a page on JavaScriptCore costs. A new
// process creates one JavaScriptCore context, evaluates harbor.js in it (a bare context fires its
// "deviceready" at once) and says so on standard error:
//   bare_launch <path of harbor.js>
// Exit status 0 once the script ran, 1 when it could not be read or failed.
#include <JavaScriptCore/JavaScript.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bare_launch <harbor.js>\n");
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "bare_launch: cannot read %s\n", argv[1]);
    return 1;
  }
  JSGlobalContextRef context = JSGlobalContextCreate(nullptr);
  JSStringRef source = JSStringCreateWithUTF8CString(text.str().c_str());
  JSValueRef exception = nullptr;
  JSEvaluateScript(context, source, nullptr, nullptr, 1, &exception);
  JSStringRelease(source);
  JSGlobalContextRelease(context);
  if (exception) {
    std::fprintf(stderr, "bare_launch: harbor.js failed\n");
    return 1;
  }
  std::fprintf(stderr, "bare_launch: deviceready\n");
  return 0;
}
