// The generator is small enough to live in its header; this unit keeps the
// one-pair-per-unit layout of the core.
#include "random.h"
