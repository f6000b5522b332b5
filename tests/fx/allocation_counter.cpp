// The program's counting operator new.
#define VELMORA_DEFINE_ALLOCATION_COUNTER
#include "allocation_counter.h"
