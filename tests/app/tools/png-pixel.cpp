// A test tool for the screenshot tests: reads a PNG file and prints its size and the colour at
// the given places, each a fraction of the width and height (0.5 0.5 is the middle):
//   png-pixel FILE X Y [X Y ...]   ->   "375x667" then one "R,G,B,A" line per place
// Exits with 1 (and says why) when the file is no PNG it can read.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: png-pixel FILE X Y [X Y ...]\n");
    return 2;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, argv[1])) {
    std::fprintf(stderr, "png-pixel: %s: %s\n", argv[1], image.message);
    return 1;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    std::fprintf(stderr, "png-pixel: %s: %s\n", argv[1], image.message);
    return 1;
  }
  std::printf("%ux%u\n", image.width, image.height);
  for (int i = 2; i + 1 < argc; i += 2) {
    double fx = std::atof(argv[i]), fy = std::atof(argv[i + 1]);
    auto at = [](double f, unsigned size) {
      long v = static_cast<long>(f * size);
      return static_cast<unsigned>(v < 0 ? 0 : v >= static_cast<long>(size) ? size - 1 : v);
    };
    unsigned x = at(fx, image.width), y = at(fy, image.height);
    const png_byte* p = &pixels[(static_cast<std::size_t>(y) * image.width + x) * 4];
    std::printf("%u,%u,%u,%u\n", p[0], p[1], p[2], p[3]);
  }
  return 0;
}
