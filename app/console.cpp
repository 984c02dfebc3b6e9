#include "app/console.h"

FILE* console_out = stdout;
