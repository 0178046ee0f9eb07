// The typed operations of Plugin: each plug-in (category 1), node (category 2)
// and value (category 4) operation that kvq-host and the tests use, as one
// call of the entry with the result read in its form.
#include "plugin.h"

#include "entry/entryCodes.h"

namespace kvqhost {
namespace {

// One call of each category, answered with a result word.
uint32_t pluginWord(Plugin& p, int32_t operation) {
    return Plugin::word(p.call(kCategoryPlugin, operation));
}
uint32_t nodeWord(Plugin& p, int32_t operation, Handle node, uint32_t a0 = 0) {
    return Plugin::word(p.call(kCategoryNode, operation, node, {a0}));
}
uint32_t valueWord(Plugin& p, int32_t operation, Handle value) {
    return Plugin::word(p.call(kCategoryValue, operation, value));
}

} // namespace

const char* kindName(ValueKind kind) {
    switch (kind) {
    case ValueKind::Empty:
        return "empty";
    case ValueKind::Text:
        return "text";
    case ValueKind::Int32:
        return "int32";
    case ValueKind::Int64:
        return "int64";
    case ValueKind::Real:
        return "real";
    case ValueKind::Guid:
        return "guid";
    case ValueKind::Unknown:
        break;
    }
    return "unknown";
}

// ---------------------------------------------------------------- category 1

bool Plugin::attach() {
    uint32_t entry = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&kvqHostEntry));
    attached_ =
        word(call(kCategoryPlugin, kPluginAttach, entry, {context_, 0, toHandle(module_)})) == 1;
    if (attached_) detached_ = false;
    return attached_;
}

void Plugin::build() {
    call(kCategoryPlugin, kPluginBuild);
}

bool Plugin::detach() {
    bool done = pluginWord(*this, kPluginDetach) == 1;
    if (done) detached_ = true;
    // The proxies outlive their nodes; only the host can end them.
    unobserveAll();
    return done;
}

Handle Plugin::pluginObject() {
    return pluginWord(*this, kPluginObject);
}
std::optional<std::string> Plugin::displayName() {
    return copyText(pluginWord(*this, kPluginName));
}
Handle Plugin::root() {
    return pluginWord(*this, kPluginRoot);
}
Handle Plugin::identification() {
    return pluginWord(*this, kPluginIdentification);
}
uint32_t Plugin::recordSize() {
    return pluginWord(*this, kPluginRecordSize);
}
void Plugin::setHostData(uint32_t value) {
    call(kCategoryPlugin, kPluginSetHostData, value);
}
uint32_t Plugin::hostData() {
    return pluginWord(*this, kPluginHostData);
}

// ---------------------------------------------------------------- category 2

std::string Plugin::name(Handle node) {
    return text(nodeWord(*this, 3, node));
}
std::string Plugin::type(Handle node) {
    return text(nodeWord(*this, 5, node));
}
std::string Plugin::category(Handle node) {
    return text(nodeWord(*this, 6, node));
}
std::string Plugin::label(Handle node) {
    return text(nodeWord(*this, 7, node));
}
std::optional<std::string> Plugin::valueText(Handle node) {
    return copyText(nodeWord(*this, 9, node));
}

ValueKind Plugin::valueKind(Handle node) {
    static const std::pair<int, ValueKind> tests[] = {{22, ValueKind::Text},
                                                      {23, ValueKind::Int32},
                                                      {24, ValueKind::Int64},
                                                      {25, ValueKind::Real},
                                                      {26, ValueKind::Guid}};
    for (const auto& [op, kind] : tests)
        if (nodeWord(*this, op, node)) return kind;
    return ValueKind::Empty;
}

uint32_t Plugin::flags(Handle node) {
    return nodeWord(*this, 27, node);
}
bool Plugin::isActive(Handle node) {
    return nodeWord(*this, 40, node) != 0;
}
void Plugin::setActive(Handle node, bool on) {
    nodeWord(*this, 41, node, on ? 1u : 0u);
}
Handle Plugin::parent(Handle node) {
    return nodeWord(*this, 90, node);
}
bool Plugin::hasChildren(Handle node) {
    return nodeWord(*this, 95, node) != 0;
}
uint32_t Plugin::childCount(Handle node) {
    return nodeWord(*this, 96, node);
}
Handle Plugin::firstChild(Handle node) {
    return nodeWord(*this, 97, node);
}
Handle Plugin::nextChild(Handle node, Handle child) {
    return nodeWord(*this, 99, node, child);
}

uint32_t Plugin::attributeCount(Handle node) {
    return nodeWord(*this, 74, node);
}
Handle Plugin::firstAttribute(Handle node) {
    return nodeWord(*this, 75, node);
}
Handle Plugin::nextAttribute(Handle node, Handle attribute) {
    return nodeWord(*this, 78, node, attribute);
}
Handle Plugin::findAttribute(Handle node, const std::string& name) {
    return nodeWord(*this, 79, node, toHandle(name.c_str()));
}

std::optional<std::string> Plugin::attributeText(Handle node, const std::string& name) {
    return copyText(nodeWord(*this, 54, node, toHandle(name.c_str())));
}

int32_t Plugin::attributeInt(Handle node, const std::string& name) {
    return static_cast<int32_t>(nodeWord(*this, 56, node, toHandle(name.c_str())));
}

int64_t Plugin::command(Handle node, const std::array<uint32_t, 7>& w) {
    EntryMessage m =
        call(kCategoryNode, kNodeCommand, node, {w[0], 0, w[1], w[2], w[3], w[4], w[5], w[6]});
    return static_cast<int64_t>(wide(m));
}

int64_t Plugin::command(Handle node, uint64_t code, uint32_t w1) {
    return command(
        node, {w1, static_cast<uint32_t>(code), static_cast<uint32_t>(code >> 32), 0, 0, 0, 0});
}

// ---------------------------------------------------------------- category 4

std::string Plugin::valueName(Handle value) {
    return text(valueWord(*this, 2, value));
}
uint32_t Plugin::valueHeader(Handle value) {
    return valueWord(*this, 3, value);
}
std::optional<std::string> Plugin::valueAsText(Handle value) {
    return copyText(valueWord(*this, 7, value));
}
int32_t Plugin::valueAsInt(Handle value) {
    return static_cast<int32_t>(valueWord(*this, 8, value));
}

ValueKind Plugin::kindOf(Handle value) {
    static const std::pair<int, ValueKind> tests[] = {
        {18, ValueKind::Empty}, {19, ValueKind::Text}, {20, ValueKind::Int32},
        {21, ValueKind::Int64}, {22, ValueKind::Real}, {23, ValueKind::Guid}};
    for (const auto& [op, kind] : tests)
        if (valueWord(*this, op, value)) return kind;
    return ValueKind::Unknown;
}

} // namespace kvqhost
