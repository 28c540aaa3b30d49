#include "core/plugin.h"
