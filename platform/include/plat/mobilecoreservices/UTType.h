#pragma once
// The type registry: uniform type identifiers ("public.jpeg"), the file name extensions and MIME
// types that name them, and the few conformances callers ask about (image, movie). Only the
// types the container and its plugins meet are known; any other tag gets a dynamic identifier
// ("dyn." ...) that has no MIME type and conforms to nothing but itself.
//
// Pure functions over a fixed table; any thread.
#include <optional>
#include <string>
#include <string_view>

namespace plat {

inline constexpr char kUTTagClassFilenameExtension[] = "public.filename-extension";
inline constexpr char kUTTagClassMIMEType[] = "public.mime-type";

inline constexpr char kUTTypeImage[] = "public.image";
inline constexpr char kUTTypeMovie[] = "public.movie";
inline constexpr char kUTTypeJPEG[] = "public.jpeg";
inline constexpr char kUTTypePNG[] = "public.png";
inline constexpr char kUTTypeGIF[] = "com.compuserve.gif";
inline constexpr char kUTTypeQuickTimeMovie[] = "com.apple.quicktime-movie";
inline constexpr char kUTTypeMPEG4[] = "public.mpeg-4";

// The identifier of the type that the tag (an extension or a MIME type, in any letter case)
// names; a dynamic identifier when the registry does not know it. Nothing for an unknown tag
// class or an empty tag.
std::optional<std::string> UTTypeCreatePreferredIdentifierForTag(std::string_view tagClass, std::string_view tag);
// The type's preferred tag of the class ("jpeg" for the extension of public.jpeg, "image/jpeg"
// for its MIME type); nothing when the type has none.
std::optional<std::string> UTTypeCopyPreferredTagWithClass(std::string_view uti, std::string_view tagClass);
// Whether the type is the other type or one of its kinds (public.jpeg conforms to public.image).
bool UTTypeConformsTo(std::string_view uti, std::string_view conformsToUTI);

}  // namespace plat
