// vStatusLinePlugin: the plug-in object of the Quillport library. Building it
// creates the "Quillport" tree node with its four buttons, its window and its
// poll thread; tearing it down stops the thread and destroys the node.
#pragma once

#include "entry/vPlugin.h"
#include "plugin/vStatusLineNode.h"

class vStatusLinePlugin : public vPlugin {
public:
    vStatusLinePlugin();
    ~vStatusLinePlugin() override;

    void build() override;
    void teardown() override;

    vStatusLineNode* node() const { return statusNode; }

private:
    vStatusLineNode* statusNode = nullptr;
};
