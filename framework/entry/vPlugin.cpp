#include "entry/vPlugin.h"

#include "entry/hostRequests.h"
#include "entry/library.h"
#include "tree/vNodeWatch.h"

vRootNode::vRootNode(const char* displayName)
    : vNode(displayName, "root", nullptr, nullptr, nullptr) {
    rootNode = this;
    setFlag24(1);
    setFlag25(1);
    setFlag26(1);
    setLocked(0);
    addAttributeInt("id", -1, nullptr);
    identification = new vNode("Identification", "info", nullptr, nullptr, nullptr);
    // The host may destroy the node (node operation 1, or deleting the root's
    // children); the watch then clears the pointer.
    watchNode(identification);
    identification->addAttributeInt("lib", kFrameworkVersion, nullptr);
    identification->addAttributeInt("sdk", kFrameworkVersion, nullptr);
}

vRootNode::~vRootNode() {
    // Goes first, while this object is whole: its watch writes to `identification`.
    delete identification;
    if (rootNode == this) rootNode = nullptr;
}

void vRootNode::treeSignal4() {
    if (identification != nullptr) identification->setFlag24(0);
    vNode::treeSignal4();
}

void vRootNode::treeSignal5() {
    vNode::treeSignal5();
    if (identification != nullptr) identification->setFlag24(1);
}

vPlugin::vPlugin(const char* displayName) : vRootNode(displayName) {
    pluginInstance = this;
    vNode* id = identificationNode();
    id->setAttributeInt("lib", kFrameworkVersion);
    id->lockAttribute("sdk", 1);
    id->lockAttribute("lib", 1);
}

vPlugin::~vPlugin() {
    if (pluginInstance != nullptr) {
        sendUnloadNotice(moduleInstance);
        pluginInstance = nullptr;
    }
}

void vPlugin::build() {}
void vPlugin::onOperation6() {}
void vPlugin::teardown() {}
