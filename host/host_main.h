// The host program's start-up sequence.
#pragma once

#include "host/app_args.h"

#include <string>

// The whole program: application object, options, single-instance test, main window, event loop.
int hostMain(int argc, char **argv);

// Start-up after the application object exists: the single-instance test under `mutexName`
// (only when option "mutex" is exactly 1), then the main window and the event loop.
// Returns the exit code.
int runHost(const AppArgs &args, const std::string &mutexName = "Tessel");
