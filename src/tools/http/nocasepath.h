#pragma once
#include <string>
#include <string_view>

namespace tools::http {

// Windows file names do not depend on case; ours do. `relative` ("/"-separated)
// is looked up beneath `base` one segment at a time: a segment that exists as
// spelled is taken, else an entry of that directory whose name matches without
// case (the first in name order), else the segment as spelled, and so are the
// segments after it. `base` itself is taken as it stands. "." and ".." are left
// for the system to follow.
std::string matchNoCase(const std::string& base, std::string_view relative);

} // namespace tools::http
