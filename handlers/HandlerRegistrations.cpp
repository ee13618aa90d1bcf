#include "AppTextFileResponse.h"

// Every endpoint registers before main runs, all from this one file so that their order is defined: each goes
// in front of those of equal priority registered before it, so the registry consults them in the reverse
// order of these lines, and the base class, which is in the registry from the start, last of all.
static const bool endpointsRegistered = [] {
    AppTextFileResponse::load();
    return true;
}();
