#pragma once
// The viewer's console stream is the loaders' log stream, console_out (store/log.h): loading
// progress and the exit routine's closing lines go there.
#include "store/log.h"
