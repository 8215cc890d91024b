// The WebKit start-up benchmark's baseline: the least a launch of a page in WebKitGTK costs. A new
// process opens a GTK window of the given size with one WebKit view in it and loads a file page
// with one script, which posts a script message; on that message it says so on standard error:
//   bare_webkit_launch <page file> <width> <height>
// Exit status 0 once the message came, 1 when the page could not be loaded.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void onMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer) {
  std::fprintf(stderr, "bare_webkit_launch: deviceready\n");
  std::fflush(stderr);
  std::exit(0);
}

gboolean onFailure(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
  std::fprintf(stderr, "bare_webkit_launch: %s did not load: %s\n", uri, error->message);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bare_webkit_launch <page file> <width> <height>\n");
    return 1;
  }
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "bare_webkit_launch: no display\n");
    return 1;
  }
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  g_signal_connect(content, "script-message-received::ready", G_CALLBACK(onMessage), nullptr);
  webkit_user_content_manager_register_script_message_handler(content, "ready");
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
  g_signal_connect(view, "load-failed", G_CALLBACK(onFailure), nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), std::atoi(argv[2]), std::atoi(argv[3]));
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  gchar* uri = g_filename_to_uri(argv[1], nullptr, nullptr);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
  g_free(uri);
  gtk_main();
  return 1;
}
