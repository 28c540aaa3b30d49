#include "core/thread_pool.h"
