#pragma once
// The page's file chooser (<input type="file">), as the device shows it: the photo library's
// picker, presented over whatever the application's window shows, when the input takes pictures;
// nothing else (the device has no host files to offer, so other choosers are cancelled). The
// picked picture is handed to the page as a JPEG file in the temporary folder. Shared by both web
// views. Main thread.
#include <functional>
#include <string>
#include <vector>

#include "plat/web/WebPage.h"

namespace plat {

void runWebOpenPanel(const web::WebPageClient::OpenPanel& panel, std::function<void(std::vector<std::string>)> done);

}  // namespace plat
