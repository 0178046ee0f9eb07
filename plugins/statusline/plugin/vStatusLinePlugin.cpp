#include "plugin/vStatusLinePlugin.h"

#include "entry/pluginLibrary.h"
#include "platform/threads.h"
#include "tree/vNodeWatch.h"

vStatusLinePlugin::vStatusLinePlugin() : vPlugin("Quillport") {}

// Destroyed by any path (detach, or the host destroying the root), the plug-in
// releases what it built exactly once.
vStatusLinePlugin::~vStatusLinePlugin() {
    teardown();
}

void vStatusLinePlugin::build() {
    if (statusNode != nullptr) return; // built already
    statusNode = new vStatusLineNode(getName());
    watchNode(statusNode);
    statusNode->init();
    statusNode->start(plat::kThreadPriorityIdle);
}

void vStatusLinePlugin::teardown() {
    if (statusNode == nullptr) return;
    // The node is destroyed once its worker has ended; one blocked in a driver
    // call is left the node, whose window and buttons go now.
    if (statusNode->vThread::stop())
        delete statusNode; // the watch sets statusNode to null
    else
        statusNode->leaveToWorker();
    statusNode = nullptr;
}

KVQ_PLUGIN_LIBRARY(vStatusLinePlugin)
