// A test tool for the orientation tests: writes the pictures a person's photo library holds
// after a camera was held sideways, into a folder of its own:
//   oriented-pictures FOLDER   ->   FOLDER/turned.jpg, FOLDER/plain.png
// turned.jpg is 400 x 300 as stored with Exif orientation 6 (shown turned a quarter clockwise,
// 300 x 400), its Exif segment written byte by byte; plain.png is the same 400 x 300 picture
// without any orientation. Stored, both are four quadrants: red top left, green top right, blue
// bottom left, yellow bottom right (plat/testing/OrientedPictures.h).
#include <cstdio>
#include <fstream>
#include <string>

#include "plat/testing/OrientedPictures.h"

namespace {

bool write(const std::string& path, const plat::Data& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return !bytes.empty() && out.good();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: oriented-pictures FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  if (!write(folder + "/turned.jpg", plat::testing::JpegWithExifOrientation(400, 300, 6)) ||
      !write(folder + "/plain.png", plat::UIImagePNGRepresentation(*plat::testing::QuadrantPicture(400, 300)))) {
    std::fprintf(stderr, "oriented-pictures: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
