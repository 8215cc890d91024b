#pragma once
// XML property lists for plat::Value: dict (string keys, in document order), array, string,
// integer, real, true/false and data (Base64). A <date> is read as its ISO 8601 text, since
// Value has no date kind. Null and absent values cannot be written: the writer refuses them, and
// strings that XML cannot carry (control characters, invalid UTF-8), instead of writing a file
// nobody can read back. Reading goes through NSXMLParser, so its protections apply.
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace plat::plist {

Result<Value> parse(std::string_view xml);
Result<std::string> writeXML(const Value& value);
// Whether writeXML would accept the value.
bool isPropertyList(const Value& value);

// Reads a file; NSCocoaErrorDomain NSFileReadCorruptFileError when it is not a property list.
std::optional<Value> readFromFile(const std::string& path, NSError* error = nullptr);
// Writes atomically (temporary file and rename): the old file or the new one, never half.
bool writeToFile(const Value& value, const std::string& path, NSError* error = nullptr);

}  // namespace plat::plist
