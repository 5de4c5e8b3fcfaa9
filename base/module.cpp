// The program's module handle and title, which message texts and boxes use.
#include "base/base.h"

HINSTANCE ModuleInstance;
char SetupTitle[29];
