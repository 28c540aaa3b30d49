#include "core/module_globals.h"
