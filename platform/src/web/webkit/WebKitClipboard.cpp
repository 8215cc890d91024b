// The pages' clipboard. WebKit reads and writes its two clipboards (the clipboard and the primary
// selection) on GTK's clipboards of the display, which it takes from gtk_clipboard_get_for_display.
// On a window of the user's display those are the desktop's own: a page tapped once would read
// and write the user's clipboard, and a page that selects text would set the desktop's primary
// selection without any tap. So that function is defined here, over GTK's: whoever asks it for
// the clipboard or the primary selection gets a selection of this process's own instead
// ("HARBOR_CLIPBOARD_<pid>", "HARBOR_PRIMARY_<pid>"), which no program of the desktop reads or
// writes. The general pasteboard's text stands on that clipboard (on an X11 display), so the
// page's clipboard and the one the Clipboard plugin uses are one, as on the device.
#include "WebKitClipboard.h"

#include <dlfcn.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "plat/foundation/Log.h"
#include "plat/uikit/UIPasteboard.h"
#include "plat/web/WebPage.h"
// Last: Xlib's macros (None, Bool, ...) would break the headers above.
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace {

using GetForDisplay = GtkClipboard* (*)(GdkDisplay*, GdkAtom);

// GTK's own function, beneath ours.
GetForDisplay gtkGetForDisplay() {
  static GetForDisplay real = [] {
    auto found = reinterpret_cast<GetForDisplay>(::dlsym(RTLD_NEXT, "gtk_clipboard_get_for_display"));
    if (!found) {
      plat::NSLog("WebKit: GTK's gtk_clipboard_get_for_display cannot be found; stopping");
      std::abort();
    }
    return found;
  }();
  return real;
}

GdkAtom ownAtom(const char* name) {
  return gdk_atom_intern((std::string(name) + "_" + std::to_string(::getpid())).c_str(), FALSE);
}

// The selection of this process's own that stands for a shared one; others are themselves.
GdkAtom containerSelection(GdkAtom selection) {
  static const GdkAtom clipboard = ownAtom("HARBOR_CLIPBOARD");
  static const GdkAtom primary = ownAtom("HARBOR_PRIMARY");
  if (selection == GDK_NONE || selection == GDK_SELECTION_CLIPBOARD) return clipboard;
  if (selection == GDK_SELECTION_PRIMARY) return primary;
  return selection;
}

GtkClipboard* containerClipboard() {
  return gtkGetForDisplay()(gdk_display_get_default(), containerSelection(GDK_SELECTION_CLIPBOARD));
}

// The general pasteboard's text travels whole under a type of its own: GTK's text types give a
// text back cut at its first NUL, and with its line ends changed, so a copy would not paste back
// as it was copied. The text types are offered too, for the page.
constexpr char kWholeTextType[] = "application/x-harbor-pasteboard-text";
enum TargetInfo : guint { kText = 0, kWholeText = 1 };

void giveText(const std::string& text) {
  GtkTargetList* list = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add(list, gdk_atom_intern_static_string(kWholeTextType), 0, kWholeText);
  gtk_target_list_add_text_targets(list, kText);
  gint count = 0;
  GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
  gtk_target_list_unref(list);
  auto* held = new std::string(text);
  auto get = [](GtkClipboard*, GtkSelectionData* data, guint info, gpointer owner) {
    const std::string& whole = *static_cast<std::string*>(owner);
    if (info == kWholeText)
      gtk_selection_data_set(data, gtk_selection_data_get_target(data), 8, reinterpret_cast<const guchar*>(whole.data()),
                             static_cast<gint>(whole.size()));
    else
      gtk_selection_data_set_text(data, whole.data(), static_cast<gint>(whole.size()));
  };
  auto clear = [](GtkClipboard*, gpointer owner) { delete static_cast<std::string*>(owner); };
  // Refused, GTK calls neither function: the text is ours to let go of.
  if (!gtk_clipboard_set_with_data(containerClipboard(), targets, static_cast<guint>(count), get, clear, held)) delete held;
  gtk_target_table_free(targets, count);
}

std::optional<std::string> takeText() {
  GtkClipboard* clipboard = containerClipboard();
  if (GtkSelectionData* data = gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern_static_string(kWholeTextType))) {
    gint length = 0;
    const guchar* bytes = gtk_selection_data_get_data_with_length(data, &length);
    std::optional<std::string> whole;
    if (bytes && length >= 0) whole = std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    gtk_selection_data_free(data);
    if (whole) return whole;
  }
  // Copied by the page: its text.
  gchar* text = gtk_clipboard_wait_for_text(clipboard);
  std::optional<std::string> out;
  if (text) out = std::string(text);
  g_free(text);
  return out;
}

GtkClipboard* displayClipboard(const std::string& selection) {
  return gtkGetForDisplay()(gdk_display_get_default(), gdk_atom_intern(selection.c_str(), FALSE));
}

}  // namespace

// WebKit's (and anyone's) clipboards by name: see the top of the file.
extern "C" __attribute__((visibility("default"))) GtkClipboard* gtk_clipboard_get_for_display(GdkDisplay* display,
                                                                                            GdkAtom selection) {
  return gtkGetForDisplay()(display, containerSelection(selection));
}

namespace plat::web {

void useContainerClipboard() {
  bool x11 = false;
#ifdef GDK_WINDOWING_X11
  x11 = GDK_IS_X11_DISPLAY(gdk_display_get_default());
#endif
  // Elsewhere GTK keeps no selection of another name: the pasteboard stays in memory.
  if (!x11) return;
  UIPasteboard::setSystemClipboard(UIPasteboard::SystemClipboard{takeText, giveText});
}

std::optional<std::string> displaySelectionTextForTesting(const std::string& selection) {
  gchar* text = gtk_clipboard_wait_for_text(displayClipboard(selection));
  std::optional<std::string> out;
  if (text) out = std::string(text);
  g_free(text);
  return out;
}

void setDisplaySelectionTextForTesting(const std::string& selection, const std::optional<std::string>& text) {
  GtkClipboard* clipboard = displayClipboard(selection);
  if (text)
    gtk_clipboard_set_text(clipboard, text->data(), static_cast<gint>(text->size()));
  else
    gtk_clipboard_clear(clipboard);
}

}  // namespace plat::web
