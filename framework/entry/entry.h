// The dispatcher behind every plug-in library's exported V_KVQ_ENTRY: it reads
// the category of the record and hands it to that category's table.
#pragma once

#include "entry/EntryMessage.h"

void entryDispatch(EntryMessage* message);
