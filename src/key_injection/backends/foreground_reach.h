#pragma once
// Whether the keys Tollmere sends reach the window in front. Windows drops,
// without a word, keys sent to a process of a higher integrity level than
// the sender's: a program run as administrator, when Tollmere is not.

#include <windows.h>

#include <string>

namespace tollmere::key_injection {

// The integrity level of a process as far as it could be read.
struct IntegrityReading {
  DWORD level = 0;              // the RID of its mandatory label, once read
  DWORD error = ERROR_SUCCESS;  // what stopped the reading, otherwise
};

// The notice for keys that Windows drops on their way to `theirs` (the
// window titled `title`), our level being `ours`; "" when they get there or
// nothing can be told. A process that refuses to be read is taken for a
// higher one: that is what keeps an unelevated program out.
std::string DroppedKeysNotice(const IntegrityReading& theirs, DWORD ours,
                              const std::wstring& title);

// The same for the window in front now.
std::string ForegroundDropsKeysNotice();

}  // namespace tollmere::key_injection
