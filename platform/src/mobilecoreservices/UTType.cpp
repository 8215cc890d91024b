#include "plat/mobilecoreservices/UTType.h"

#include <initializer_list>

#include "plat/foundation/Strings.h"

namespace plat {
namespace {

struct TypeEntry {
  const char* uti;
  const char* parent;  // the kind it conforms to
  std::initializer_list<const char*> extensions;  // preferred first
  const char* mime;    // nullptr: none
};

const TypeEntry kTypes[] = {
    {kUTTypeJPEG, kUTTypeImage, {"jpeg", "jpg", "jpe"}, "image/jpeg"},
    {kUTTypePNG, kUTTypeImage, {"png"}, "image/png"},
    {kUTTypeGIF, kUTTypeImage, {"gif"}, "image/gif"},
    {"public.heic", kUTTypeImage, {"heic"}, "image/heic"},
    {"public.tiff", kUTTypeImage, {"tiff", "tif"}, "image/tiff"},
    {"com.microsoft.bmp", kUTTypeImage, {"bmp"}, "image/bmp"},
    {kUTTypeQuickTimeMovie, kUTTypeMovie, {"mov", "qt"}, "video/quicktime"},
    {kUTTypeMPEG4, kUTTypeMovie, {"mp4"}, "video/mp4"},
    {"com.apple.m4v-video", kUTTypeMovie, {"m4v"}, "video/x-m4v"},
    {"public.3gpp", kUTTypeMovie, {"3gp", "3gpp"}, "video/3gpp"},
};

constexpr char kDynamicPrefix[] = "dyn.";

const TypeEntry* entryFor(std::string_view uti) {
  for (const auto& entry : kTypes)
    if (uti == entry.uti) return &entry;
  return nullptr;
}

}  // namespace

std::optional<std::string> UTTypeCreatePreferredIdentifierForTag(std::string_view tagClass, std::string_view tag) {
  if (tag.empty()) return std::nullopt;
  std::string lower = toLowerASCII(tag);
  if (tagClass == kUTTagClassFilenameExtension) {
    for (const auto& entry : kTypes)
      for (const char* extension : entry.extensions)
        if (lower == extension) return std::string(entry.uti);
  } else if (tagClass == kUTTagClassMIMEType) {
    for (const auto& entry : kTypes)
      if (entry.mime && lower == entry.mime) return std::string(entry.uti);
  } else {
    return std::nullopt;
  }
  // Dynamic identifiers only need to be stable and distinct per tag class and tag.
  return std::string(kDynamicPrefix) + (tagClass == kUTTagClassMIMEType ? "mime." : "ext.") + lower;
}

std::optional<std::string> UTTypeCopyPreferredTagWithClass(std::string_view uti, std::string_view tagClass) {
  const TypeEntry* entry = entryFor(uti);
  if (!entry) return std::nullopt;
  if (tagClass == kUTTagClassFilenameExtension) return std::string(*entry->extensions.begin());
  if (tagClass == kUTTagClassMIMEType && entry->mime) return std::string(entry->mime);
  return std::nullopt;
}

bool UTTypeConformsTo(std::string_view uti, std::string_view conformsToUTI) {
  if (uti == conformsToUTI) return true;
  const TypeEntry* entry = entryFor(uti);
  return entry && conformsToUTI == entry->parent;
}

}  // namespace plat
