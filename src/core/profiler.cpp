#include "core/profiler.h"
