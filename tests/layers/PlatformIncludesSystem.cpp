// Must not build: the platform knows nothing of the system.
#include "platform/Random.h"
#include "window/MainWindow.h"
