// TestSupport.h - helpers shared by the unit tests.
#pragma once
#include "CommandLine.h"
