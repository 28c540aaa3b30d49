#include "core/logger.h"
