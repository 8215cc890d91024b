#include "plat/mobilecoreservices/UTType.h"

#include <initializer_list>

#include "plat/foundation/Strings.h"

namespace plat {
namespace {

struct TypeEntry {
  const char* uti;
  const char* parent;  // the kind it conforms to; nullptr: none asked about
  std::initializer_list<const char*> extensions;  // preferred first
  const char* mime;    // nullptr: none
};

// Also the URL loader's table of MIME types by file extension (MIMETypeForPathExtension). Kinds
// are given to the photos and videos that the photo library sorts by them.
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
    {"public.svg-image", nullptr, {"svg"}, "image/svg+xml"},
    {"org.webmproject.webp", nullptr, {"webp"}, "image/webp"},
    {"com.microsoft.ico", nullptr, {"ico"}, "image/x-icon"},
    {"public.html", nullptr, {"html", "htm"}, "text/html"},
    {"public.xhtml", nullptr, {"xhtml"}, "application/xhtml+xml"},
    {"com.netscape.javascript-source", nullptr, {"js", "mjs"}, "application/javascript"},
    {"public.css", nullptr, {"css"}, "text/css"},
    {"public.json", nullptr, {"json"}, "application/json"},
    {"public.xml", nullptr, {"xml"}, "text/xml"},
    {"public.plain-text", nullptr, {"txt"}, "text/plain"},
    {"com.microsoft.waveform-audio", nullptr, {"wav"}, "audio/x-wav"},
    {"public.mp3", nullptr, {"mp3"}, "audio/mpeg"},
    {"public.mpeg-4-audio", nullptr, {"m4a"}, "audio/mp4"},
    {"public.aac-audio", nullptr, {"aac"}, "audio/aac"},
    {"com.apple.coreaudio-format", nullptr, {"caf"}, "audio/x-caf"},
    {"com.adobe.pdf", nullptr, {"pdf"}, "application/pdf"},
    {"public.zip-archive", nullptr, {"zip"}, "application/zip"},
    {"org.w3.woff", nullptr, {"woff"}, "font/woff"},
    {"org.w3.woff2", nullptr, {"woff2"}, "font/woff2"},
    {"public.truetype-ttf-font", nullptr, {"ttf"}, "font/ttf"},
    {"public.opentype-font", nullptr, {"otf"}, "font/otf"},
    {"org.webassembly.wasm", nullptr, {"wasm"}, "application/wasm"},
    {"com.apple.property-list", nullptr, {"plist"}, "application/x-plist"},
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
  return entry && entry->parent && conformsToUTI == entry->parent;
}

}  // namespace plat
