// Library load: shared objects get no thread notifications to turn off.
#include "platform/platform.h"

namespace plat {

void libraryLoaded(Instance) {}

} // namespace plat
