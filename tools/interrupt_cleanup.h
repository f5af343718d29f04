// A make stopped with Ctrl-C (or a terminal closed, a kill by its default
// signal) takes its half-written patch with it, as a finished one replaces
// it: nothing beside the output tells of a run that did not end.
#pragma once

#include <string>

// From now until KeepOnInterrupt, an interrupt removes `side` (a side file
// this run made) before the program ends as the interrupt would end it.
void RemoveOnInterrupt(const std::string& side);
void KeepOnInterrupt();
