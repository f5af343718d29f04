// The system's own words for why the last file call failed, for messages
// that name a path: "cannot open X: No such file or directory".
#pragma once

#include <string>

// Before a call whose failure is to be explained, so that an older error is
// not taken for its reason.
void ForgetSystemReason();
std::string SystemReason();
