#include "plugin/vX10Nodes.h"

#include "entry/hostRequests.h"
#include "protocol/x10Codes.h"

#include <cstdio>

vX10Unit::vX10Unit(const char* name, vNode* parent, int32_t house, int32_t unit, vNode* functions)
    : vGroupNode(name, nullptr, parent), functions(functions) {
    addAttributeInt("house", house, nullptr);
    addAttributeInt("unit", unit, nullptr);
}

vX10Unit::~vX10Unit() = default;

int64_t vX10Unit::command(uint32_t, uint32_t w2, uint32_t w3, uint32_t, uint32_t, uint32_t,
                          uint32_t) {
    if (!isCommandCode(w2, w3, kCommandShortName)) return 0;
    int32_t house = attributeInt("house");
    int32_t unit = attributeInt("unit");
    uint8_t code = 0;
    // The host may have changed the attributes: outside the tables nothing is sent.
    if (!x10CodeByte(house, unit, &code)) return 0;
    char shortName[8] = {};
    std::snprintf(shortName, sizeof shortName, "%c%u", 'a' + house,
                  static_cast<unsigned>(static_cast<uint8_t>(unit + 1)));
    sendShortNameReport(functions, shortName, code);
    return 0;
}

vX10Function::vX10Function(const char* name, vNode* parent, int32_t kind, uint8_t code,
                           vX10Port& port)
    : vFunctionNode(name, nullptr, parent), kind(kind), code(code), port(port) {}

vX10Function::~vX10Function() = default;

uint32_t vX10Function::invoke(uint32_t, uint32_t, uint32_t) {
    if (kind == powerOn) return static_cast<uint32_t>(port.sendCommand(kX10FunctionOn, 0, code));
    if (kind == powerOff) return static_cast<uint32_t>(port.sendCommand(kX10FunctionOff, 0, code));
    return 0;
}

vX10Event::vX10Event(const char* name, vNode* parent)
    : vAssignmentButton(name, parent, nullptr, nullptr), vTimer(kPulseMs, 0) {}

vX10Event::~vX10Event() = default;

void vX10Event::onFired() {
    startPulse(0);
}

void vX10Event::startPulse(uint32_t) {
    vTimer::start();
    setActive(1);
}

void vX10Event::onTimer(uint32_t) {
    vTimer::stop();
    setActive(0);
}
