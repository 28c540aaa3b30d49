#include "core/host.h"
