// The pinned release key lives alone in this file, so that a test build of the application module can
// link a test key in its place.
#include "core/update/code_signature.h"

#ifndef TASKBELL_RELEASE_PUBLIC_KEY
#define TASKBELL_RELEASE_PUBLIC_KEY ""
#endif

namespace taskbell::update {

std::string releasePublicKey()
{
    return TASKBELL_RELEASE_PUBLIC_KEY;
}

} // namespace taskbell::update
