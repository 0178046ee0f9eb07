// Node paths as kvq-host's users write them: the names from below the root
// down to the node, joined with '/', such as
// "X10/House Code: A/Unit Code: 1/Power On". Names may hold spaces and colons;
// a '/' or '\' inside a name is written "\/" or "\\". A leading '/' and a
// trailing '/' are allowed; the empty path (or "/") is the root itself.
#pragma once

#include <string>
#include <vector>

namespace kvqhost {

// Splits `text` into names; false with a one-line `error` for an empty name in
// the middle ("a//b") or a bad escape.
bool parsePath(const std::string& text, std::vector<std::string>& names, std::string& error);
// The inverse of parsePath: names joined with '/', '/' and '\' escaped.
std::string formatPath(const std::vector<std::string>& names);

} // namespace kvqhost
