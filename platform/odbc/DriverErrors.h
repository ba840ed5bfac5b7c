// The former place of the error vocabulary, kept for the sources that still include it; new code
// includes platform/errors/Errors.h.
#pragma once

#include "platform/errors/Errors.h"
