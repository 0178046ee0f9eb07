// Every plug-in-side header of the seam at once (seam.h says what each is
// for). New code includes the headers it uses; host.h is never part of this.
#pragma once

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/seam.h"
#include "platform/serial.h"
#include "platform/settings.h"
#include "platform/threads.h"
#include "platform/windows.h"
