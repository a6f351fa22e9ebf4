// Linked into the test build of the application module ahead of the core library, so that this definition
// replaces the pinned release key.
#include "core/update/code_signature.h"

namespace taskbell::update {

std::string releasePublicKey()
{
    return TASKBELL_TEST_RELEASE_KEY;
}

} // namespace taskbell::update
