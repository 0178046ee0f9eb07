#include "plugin/vX10Plugin.h"

#include "descriptors/vNullNode.h"
#include "entry/hostRequests.h"
#include "entry/pluginLibrary.h"
#include "plugin/vX10Nodes.h"
#include "protocol/x10Codes.h"
#include "runtime/portSetting.h"
#include "tree/vNodeWatch.h"

#include <cstdio>

vX10Plugin::vX10Plugin() : vPlugin("KV-X10") {}

// Destroyed by any path (detach, or the host destroying the root), the
// plug-in releases what it built exactly once.
vX10Plugin::~vX10Plugin() {
    teardown();
}

void vX10Plugin::build() {
    if (port != nullptr || functionsRoot != nullptr || eventsRoot != nullptr) return; // built
    port = new vX10Port(eventTree);
    // Read once: every reopen after an outage takes the same port.
    PortSetting setting = readPortSetting(kDefaultPort);
    if (setting.bad) reportError(kBadSettingText, kBadSettingCode);
    port->open(setting.name); // the trees are built whether or not the controller is there

    eventsRoot = new vTreeNode("KV-X10", nullptr, nullptr, nullptr);
    watchNode(eventsRoot);
    functionsRoot = new vGroupNode("X10", "X10", nullptr);
    watchNode(functionsRoot);

    for (int32_t h = 0; h < 16; ++h) {
        char houseName[16];
        std::snprintf(houseName, sizeof houseName, "House Code: %c", 'A' + h);
        auto* houseGroup = new vGroupNode(houseName, nullptr, functionsRoot);
        auto* houseTree = new vTreeNode(houseName, eventsRoot, nullptr, nullptr);
        houseTree->addAttributeIntClear24("code", houseCodes[h], nullptr);
        for (int32_t u = 0; u < 16; ++u) {
            char unitName[16];
            std::snprintf(unitName, sizeof unitName, "Unit Code: %d", u + 1);
            uint8_t code = static_cast<uint8_t>(houseCodes[h] | unitCodes[u]);
            auto* unit = new vX10Unit(unitName, houseGroup, h, u, functionsRoot);
            auto* slot = new vNullNode(unitName, houseTree, nullptr, nullptr);
            slot->addAttributeIntClear24("code", unitCodes[u], nullptr);
            new vX10Function("Power On", unit, vX10Function::powerOn, code, *port);
            new vX10Function("Power Off", unit, vX10Function::powerOff, code, *port);
            new vX10Event("Powered On", slot);
            new vX10Event("Powered Off", slot);
        }
    }
}

void vX10Plugin::teardown() {
    delete functionsRoot; // the watch clears the field as the node goes
    functionsRoot = nullptr;
    delete port;
    port = nullptr;
    delete eventsRoot;
    eventsRoot = nullptr;
}

KVQ_PLUGIN_LIBRARY(vX10Plugin)
