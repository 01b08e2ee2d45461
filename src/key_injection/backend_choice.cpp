#include "key_injection/backend_choice.h"

#include "key_injection/xtest_backend.h"

namespace tollmere::key_injection {

BackendBinder DefaultBinder() { return [] { return OpenXTestBackend(); }; }

}  // namespace tollmere::key_injection
