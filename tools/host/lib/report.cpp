#include "report.h"

#include "common/json.h"
#include "entry/entryCodes.h"
#include "nodePath.h"
#include "platform/host.h"

#include <cstdio>

namespace kvqhost {

using kvqtools::JsonObject;
using kvqtools::jsonString;

namespace {

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? separator : "") + items[i];
    return out;
}

std::string shownPath(const std::optional<std::string>& path, Handle handle) {
    if (!path) return hex(handle);
    return path->empty() ? "(root)" : *path;
}

std::string commandName(uint64_t code) {
    switch (code) {
    case kCodeFired:
        return "fired";
    case kCodeAnnounce:
        return "announce";
    case kCodeAnswer:
        return "answer";
    default:
        return "command";
    }
}

// Numbers as they are, texts and GUIDs quoted.
std::string shownValue(const std::optional<std::string>& value, ValueKind kind) {
    if (!value) return "(none)";
    bool number = kind == ValueKind::Int32 || kind == ValueKind::Int64 || kind == ValueKind::Real;
    return number ? *value : jsonString(*value);
}

} // namespace

std::string hex(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", value);
    return buf;
}

std::vector<std::string> nodeFlagNames(uint32_t flags) {
    static const std::pair<int, const char*> bits[] = {
        {0, "flag0"},   {1, "flag1"},   {2, "flag2"},   {3, "active"}, {5, "flag5"},
        {24, "flag24"}, {25, "flag25"}, {26, "flag26"}, {27, "locked"}};
    std::vector<std::string> out;
    uint32_t known = 0xF0000000u; // the tag is shown on its own
    for (const auto& [bit, name] : bits) {
        known |= 1u << bit;
        if (flags & (1u << bit)) out.push_back(name);
    }
    for (int bit = 0; bit < 32; ++bit)
        if ((flags & ~known) & (1u << bit)) out.push_back("bit" + std::to_string(bit));
    return out;
}

std::vector<std::string> attributeFlagNames(uint32_t header) {
    static const std::pair<int, const char*> bits[] = {
        {24, "flag24"}, {25, "flag25"}, {26, "flag26"}, {27, "locked"}};
    std::vector<std::string> out;
    for (const auto& [bit, name] : bits)
        if (header & (1u << bit)) out.push_back(name);
    return out;
}

bool isQuery(const Call& call) {
    return call.is(kCategoryPlugin, kRequestHostTarget) ||
           call.is(kCategoryPlugin, kRequestHostSource);
}

std::string timePrefix(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "[%8.3f] ", seconds);
    return buf;
}

std::string resourcesLine(const plat::ProcessResources& r, double seconds, bool json) {
    if (json)
        return JsonObject()
            .real("t", seconds)
            .text("event", "resources")
            .number("handles", r.handles)
            .number("threads", r.threads)
            .number("windows", r.windows)
            .number("timers", r.timers)
            .number("userObjects", r.userObjects)
            .number("privateKiB", r.privateKiB)
            .str();
    return timePrefix(seconds) + "resources: handles " + std::to_string(r.handles) + ", threads " +
           std::to_string(r.threads) + ", windows " + std::to_string(r.windows) + ", timers " +
           std::to_string(r.timers) + ", user objects " + std::to_string(r.userObjects) +
           ", private " + std::to_string(r.privateKiB) + " KiB";
}

std::string callLine(const Call& c, const PathLookup& pathOf, bool json,
                     const PathLookup& attributeName) {
    JsonObject j;
    j.real("t", c.seconds);
    std::string text;
    auto path = [&](Handle h) { return pathOf ? pathOf(h) : std::nullopt; };
    auto jsonPath = [&](const char* key, Handle h) {
        auto p = path(h);
        if (p)
            j.text(key, *p);
        else
            j.null(key);
    };
    const ObserverEvent* event =
        c.category() == kCategoryObserver ? observerEvent(c.operation()) : nullptr;

    if (c.debug) {
        j.text("event", "debug").text("text", c.text.value_or(""));
        text = "debug " + jsonString(c.text.value_or(""));
    } else if (c.is(kCategoryNode, kNodeCommand)) {
        uint64_t code = c.commandCode();
        std::string kind = commandName(code);
        Handle node = c.commandNode();
        j.text("event", kind).number("code", static_cast<int64_t>(code));
        j.text("node", hex(node));
        jsonPath("path", node);
        j.text("target", hex(c.object())).text("source", hex(c.arg(0)));
        text = kind + " " + std::to_string(code) + " " + shownPath(path(node), node);
        if (kind == "answer") text += " to " + hex(c.object());
        if (kind == "command") {
            j.number("param2", static_cast<int64_t>(c.arg64(6)));
            text += " target " + hex(c.object()) + " source " + hex(c.arg(0)) + " param2 " +
                    std::to_string(static_cast<int64_t>(c.arg64(6)));
        }
    } else if (event) {
        const char* name = event->name;
        j.text("event", "observer").text("name", name).number("operation", c.operation());
        j.text("observer", hex(c.object()));
        text = std::string("observer ") + name + " ";
        if (c.observerKnown) {
            j.text("node", hex(c.observedNode));
            jsonPath("path", c.observedNode);
            text += shownPath(path(c.observedNode), c.observedNode);
        } else {
            j.null("node").null("path");
            text += "(unknown observer " + hex(c.object()) + ")";
        }
        switch (event->argument) {
        case EventArgument::Text:
            if (c.text)
                j.text("text", *c.text);
            else
                j.null("text");
            text += " " + (c.text ? jsonString(*c.text) : std::string("(null)"));
            break;
        case EventArgument::Value:
            j.text("value", hex(c.arg(0)));
            text += " value " + hex(c.arg(0));
            break;
        case EventArgument::Attribute:
        case EventArgument::Child: {
            Handle item = c.arg(0);
            j.text("item", hex(item));
            text += " item ";
            if (event->argument == EventArgument::Child) {
                jsonPath("itemPath", item);
                text += shownPath(path(item), item);
            } else {
                std::optional<std::string> name =
                    attributeName ? attributeName(item) : std::nullopt;
                if (name)
                    j.text("itemName", *name);
                else
                    j.null("itemName");
                text += name ? "@" + *name : hex(item);
            }
            if (event->before) {
                j.text("before", hex(c.arg(2)));
                text += " before " + hex(c.arg(2));
            }
            break;
        }
        case EventArgument::Bit:
            j.number("value", c.arg(0));
            text += " " + std::to_string(c.arg(0));
            break;
        case EventArgument::None:
            break;
        }
    } else if (c.is(kCategoryPlugin, kRequestReportError)) {
        int32_t code = static_cast<int32_t>(c.arg(0));
        j.text("event", "error").number("code", code);
        if (c.text)
            j.text("text", *c.text);
        else
            j.null("text");
        text = "error " + std::to_string(code) + " " +
               (c.text ? jsonString(*c.text) : std::string("(null)"));
    } else if (c.is(kCategoryShortName, kRequestShortName)) {
        j.text("event", "shortName");
        if (c.text)
            j.text("name", *c.text);
        else
            j.null("name");
        j.number("code", c.arg(2)).text("node", hex(c.object()));
        jsonPath("path", c.object());
        char code[16];
        std::snprintf(code, sizeof code, "0x%02x", c.arg(2));
        text = "short-name " + (c.text ? jsonString(*c.text) : std::string("(null)")) + " code " +
               code + " node " + shownPath(path(c.object()), c.object());
    } else if (c.is(kCategoryPlugin, kRequestUnloadNotice)) {
        j.text("event", "unload").text("module", hex(c.object()));
        text = "unload module " + hex(c.object());
    } else if (c.is(kCategoryPlugin, kRequestHostTarget)) {
        j.text("event", "queryTarget");
        text = "query target";
    } else if (c.is(kCategoryPlugin, kRequestHostSource)) {
        j.text("event", "querySource").text("object", hex(c.object()));
        text = "query source of " + hex(c.object());
    } else {
        j.text("event", "call").number("category", c.category()).number("operation", c.operation());
        j.text("object", hex(c.object()));
        std::vector<std::string> slots;
        for (int i = 0; i < 8; ++i)
            slots.push_back(hex(c.arg(i)));
        j.texts("a", slots);
        text = "call category " + std::to_string(c.category()) + " operation " +
               std::to_string(c.operation()) + " object " + hex(c.object()) + " a " +
               joined(slots, " ");
    }
    return json ? j.str() : timePrefix(c.seconds) + text;
}

std::string treeLines(const TreeEntry& e, bool json) {
    uint32_t tag = e.flags >> 28;
    if (json) {
        JsonObject j;
        j.text("event", "node").text("path", formatPath(e.path)).texts("names", e.path);
        j.number("depth", e.depth).text("handle", hex(e.handle)).text("name", e.name);
        j.text("type", e.type).text("category", e.category).text("label", e.label);
        j.text("valueKind", kindName(e.valueKind));
        if (e.value)
            j.text("value", *e.value);
        else
            j.null("value");
        j.number("flags", e.flags).texts("flagNames", nodeFlagNames(e.flags));
        j.number("tag", tag);
        std::string attrs = "[";
        for (size_t i = 0; i < e.attributes.size(); ++i) {
            const AttributeInfo& a = e.attributes[i];
            JsonObject aj;
            aj.text("name", a.name).text("kind", kindName(a.kind));
            if (a.value)
                aj.text("value", *a.value);
            else
                aj.null("value");
            aj.number("header", a.header).texts("flagNames", attributeFlagNames(a.header));
            aj.number("tag", a.header >> 28).text("handle", hex(a.handle));
            attrs += (i ? "," : "") + aj.str();
        }
        j.raw("attributes", attrs + "]");
        return j.str();
    }
    std::string indent(static_cast<size_t>(e.depth) * 2, ' ');
    std::string line = indent + e.name + " [" + e.type + "]";
    if (!e.category.empty()) line += " category " + jsonString(e.category);
    if (!e.label.empty()) line += " label " + jsonString(e.label);
    if (e.value)
        line += " = " + shownValue(e.value, e.valueKind) + " (" + kindName(e.valueKind) + ")";
    std::vector<std::string> names = nodeFlagNames(e.flags);
    if (!names.empty()) line += "  flags " + joined(names, ",");
    if (tag) line += "  tag " + std::to_string(tag);
    for (const AttributeInfo& a : e.attributes) {
        line += "\n" + indent + "    @" + a.name + " = ";
        line += shownValue(a.value, a.kind);
        line += std::string(" (") + kindName(a.kind) + ")";
        std::vector<std::string> af = attributeFlagNames(a.header);
        if (!af.empty()) line += " " + joined(af, ",");
        if (a.header >> 28) line += " tag " + std::to_string(a.header >> 28);
    }
    return line;
}

} // namespace kvqhost
