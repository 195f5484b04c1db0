// Comparing the names callers pass with the configured ones. Letters match
// ignoring case (ASCII).
#pragma once

#include <string_view>

namespace smsemu {

bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool containsIgnoringCase(std::string_view text, std::string_view part);

// Simple patterns: '*' any run of characters, '?' any one character.
bool globMatch(std::string_view pattern, std::string_view text);

} // namespace smsemu
