#include "store/log.h"

FILE* console_out = stdout;
