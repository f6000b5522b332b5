#include "host.h"
