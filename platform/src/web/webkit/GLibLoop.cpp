#include "GLibLoop.h"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace plat::web {

void dispatchGLib(double maxWait) {
  GMainContext* context = g_main_context_default();
  if (maxWait <= 0) {
    for (int i = 0; i < 64 && g_main_context_iteration(context, FALSE); ++i) {
    }
    return;
  }
  guint milliseconds = static_cast<guint>(std::ceil(std::min(maxWait, 1.0) * 1000));
  GSource* timeout = g_timeout_source_new(milliseconds);
  g_source_set_callback(timeout, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
  g_source_attach(timeout, context);
  g_main_context_iteration(context, TRUE);
  g_source_destroy(timeout);
  g_source_unref(timeout);
  for (int i = 0; i < 64 && g_main_context_iteration(context, FALSE); ++i) {
  }
}

void wakeGLib() { g_main_context_wakeup(g_main_context_default()); }

double monotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace plat::web
