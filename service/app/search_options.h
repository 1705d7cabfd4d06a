#pragma once

#include "service/recognition/search_settings.h"

#include <string>
#include <vector>

namespace speech {

class OptionSet;
extern const char *const kSearchSection;
// Declares the service's options for the search, read into `settings` once all are given:
// "--search fast|accurate" picks a preset; the others ("--beam 1e-40", ...) change one setting
// of it, whatever their order.
void declareSearchOptions(OptionSet &options, SearchSettings &settings);
// The search options alone, applied to `settings` as the service applies them to its default;
// false with a reason in `error` for an unknown option or a value out of range.
bool parseSearchOptions(
    const std::vector<std::string> &args, SearchSettings &settings, std::string &error);

} // namespace speech
