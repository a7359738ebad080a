// TestSupport.cpp - helpers shared by the unit tests (see TestSupport.h).
#include "TestSupport.h"
