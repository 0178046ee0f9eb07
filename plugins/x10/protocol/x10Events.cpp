#include "protocol/x10Events.h"

vX10EventSource* x10EventSource = nullptr;
