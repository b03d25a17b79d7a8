// Must not build: the system reaches Qt only through the platform.
#include "window/MainWindow.h"
#include <QWidget>
