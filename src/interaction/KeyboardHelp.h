#pragma once

#include <string>

namespace Novaro
{

// The "Using the player" section of the README, in Markdown, made from the help panels of the
// mode manager and the eight keyboard modes so that it says what the player shows on "h".
std::string keyboardHelpMarkdown();

} // namespace Novaro
