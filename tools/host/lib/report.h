// How kvq-host shows what it sees: one line (text or JSON) per call-out of a
// plug-in and per node of a tree walk. The JSON fields are listed in
// tools/host/README.md; the text forms are meant for people.
#pragma once

#include "platform/host.h"
#include "plugin.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kvqhost {

// The path of a node for display, or none when it is not known.
using PathLookup = std::function<std::optional<std::string>(Handle)>;

std::string hex(uint32_t value);
// Names of the set bits of a node's flags word (tag bits 28-31 not included).
std::vector<std::string> nodeFlagNames(uint32_t flags);
// Names of the set flag bits 24-27 of a value's header word.
std::vector<std::string> attributeFlagNames(uint32_t header);
// The target and source queries, which only serve the request that follows.
bool isQuery(const Call& call);

// One line for a call-out, such as "[   1.234] fired CODE Quillport/Button 1 (CTS)".
// `attributeName` names the attribute of an attribute event, when it can.
std::string callLine(const Call& call, const PathLookup& pathOf, bool json,
                     const PathLookup& attributeName = nullptr);
// A node and its attributes: text form is one line for the node and one per
// attribute, indented by depth; JSON form is one line.
std::string treeLines(const TreeEntry& entry, bool json);
// "[   1.234] " for lines that the tool adds itself.
std::string timePrefix(double seconds);
// A reading of what the process holds: "[   1.234] resources: handles 9, ..."
// or the JSON event "resources".
std::string resourcesLine(const plat::ProcessResources& r, double seconds, bool json);

} // namespace kvqhost
