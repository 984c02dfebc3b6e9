#pragma once
// OpenJPH's public headers, in the one order in which they compile (each uses the previous ones'
// macros and types without including them).
#include <openjph/ojph_arch.h>
#include <openjph/ojph_file.h>
#include <openjph/ojph_mem.h>
#include <openjph/ojph_params.h>
#include <openjph/ojph_codestream.h>
#include <openjph/ojph_message.h>
