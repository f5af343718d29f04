#pragma once

#include <string>

// The process's current working directory as the platform reports it.
bool QueryWorkingDirectory(std::string* directory);
