// Writes the audio recorder screen's images into a folder: plain placeholders of the sizes the
// screen lays out (the microphone band, the taller one for 320 x 568 screens, the controls band,
// the recording band and the two button faces), each one colour.
//   harbor_capture_images <folder>
#include <cstdio>
#include <string>

#include "plat/foundation/NSFileManager.h"
#include "plat/uikit/UIImage.h"

namespace {

struct Placeholder {
  const char* name;
  std::size_t width, height;
  std::uint8_t red, green, blue;
};

constexpr Placeholder kImages[] = {
    {"microphone", 320, 264, 60, 60, 66},       {"microphone-568h", 320, 352, 60, 60, 66},
    {"controls_bg", 320, 80, 30, 30, 34},       {"recording_bg", 320, 40, 200, 40, 40},
    {"record_button", 64, 64, 220, 30, 30},     {"stop_button", 64, 64, 240, 240, 240},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: harbor_capture_images <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  for (const Placeholder& p : kImages) {
    auto bitmap = std::make_shared<plat::CGImage>();
    bitmap->width = p.width;
    bitmap->height = p.height;
    bitmap->rgba.reserve(p.width * p.height * 4);
    for (std::size_t i = 0; i < p.width * p.height; ++i)
      bitmap->rgba.insert(bitmap->rgba.end(), {p.red, p.green, p.blue, 255});
    auto image = plat::UIImage::imageWithCGImage(bitmap);
    const plat::Data png = image ? plat::UIImagePNGRepresentation(*image) : plat::Data{};
    plat::NSError error;
    if (png.empty() ||
        !plat::NSFileManager::defaultManager().createFileAtPath(folder + "/" + p.name + ".png", png, &error)) {
      std::fprintf(stderr, "harbor_capture_images: %s.png not written: %s\n", p.name,
                   error.localizedDescription.c_str());
      return 1;
    }
  }
  return 0;
}
