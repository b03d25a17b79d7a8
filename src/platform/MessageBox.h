#pragma once

#include <string_view>

namespace platform {

// A modal message box; returns once the user has dismissed it. The baton is given up
// while it waits.
void MessageBox(std::string_view text);

} // namespace platform
