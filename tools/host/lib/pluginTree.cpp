// The tree as a whole, through the typed operations: the lists of a node's
// children and attributes, the depth-first walk and the lookup by path.
#include "plugin.h"

#include <functional>
#include <set>

namespace kvqhost {
namespace {

constexpr int kMaxDepth = 256;

// A node's list through its first/next operations; an item seen before ends
// it, so a plug-in that links its list in a circle cannot hold the host.
std::vector<Handle> listOf(Plugin* plugin, Handle node, Handle (Plugin::*first)(Handle),
                           Handle (Plugin::*next)(Handle, Handle)) {
    std::vector<Handle> out;
    std::set<Handle> seen;
    for (Handle h = (plugin->*first)(node); h && seen.insert(h).second;
         h = (plugin->*next)(node, h))
        out.push_back(h);
    return out;
}

} // namespace

AttributeInfo Plugin::describeAttribute(Handle attribute) {
    AttributeInfo a;
    a.handle = attribute;
    a.name = valueName(attribute);
    a.kind = kindOf(attribute);
    a.header = valueHeader(attribute);
    if (a.kind != ValueKind::Empty) a.value = valueAsText(attribute);
    return a;
}

std::vector<TreeEntry> Plugin::walk(Handle start) {
    std::vector<TreeEntry> out;
    Handle first = start ? start : root();
    if (!first) return out;
    std::set<Handle> seen;
    std::function<void(Handle, std::vector<std::string>, int)> visit =
        [&](Handle node, std::vector<std::string> path, int depth) {
            if (depth > kMaxDepth || !seen.insert(node).second) return;
            TreeEntry e;
            e.handle = node;
            e.depth = depth;
            e.name = name(node);
            e.type = type(node);
            e.category = category(node);
            e.label = label(node);
            e.value = valueText(node);
            e.valueKind = valueKind(node);
            e.flags = flags(node);
            for (Handle a : attributes(node))
                e.attributes.push_back(describeAttribute(a));
            if (depth > 0) path.push_back(e.name);
            e.path = path;
            out.push_back(std::move(e));
            for (Handle c : children(node))
                visit(c, path, depth + 1);
        };
    visit(first, {}, 0);
    return out;
}

Handle Plugin::find(const std::vector<std::string>& names, std::string* error, Handle start) {
    Handle node = start ? start : root();
    if (!node) {
        if (error) *error = "the plug-in has no root node";
        return 0;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        Handle found = 0;
        for (Handle c : children(node))
            if (name(c) == names[i]) {
                found = c;
                break;
            }
        if (!found) {
            if (error) {
                std::string where = "the root";
                if (i > 0) {
                    where.clear();
                    for (size_t k = 0; k < i; ++k)
                        where += (k ? "/" : "") + names[k];
                    where = "\"" + where + "\"";
                }
                *error = "no node named \"" + names[i] + "\" under " + where;
            }
            return 0;
        }
        node = found;
    }
    return node;
}

std::vector<Handle> Plugin::children(Handle node) {
    return listOf(this, node, &Plugin::firstChild, &Plugin::nextChild);
}

std::vector<Handle> Plugin::attributes(Handle node) {
    return listOf(this, node, &Plugin::firstAttribute, &Plugin::nextAttribute);
}

} // namespace kvqhost
