// Bytes read from a file, made safe to show on a terminal.
#pragma once

#include <string>

// `bytes` with every byte that could steer a terminal written as \xNN: the
// control bytes, DEL, the C1 controls in UTF-8 form and every byte that is
// not part of well-formed UTF-8. Everything else is kept, blanks included.
std::string PrintableText(const std::string& bytes);
