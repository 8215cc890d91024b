#pragma once
// Files the plugins make for the page in the temporary folder: numbered with the first number
// from 1 whose file does not exist yet, at least three digits ("<tmp>/hbr_photo_001.jpg").
#include <string>
#include <string_view>

namespace harbor {

// "<standardized temporary folder>/<prefix><NNN>.<extension>" for the first free number. Any
// thread; two callers racing for a number must write without replacing (or accept the loss).
std::string HBRNumberedTemporaryFilePath(std::string_view prefix, std::string_view extension);

}  // namespace harbor
