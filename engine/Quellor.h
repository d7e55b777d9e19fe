#pragma once
// Kept so that hosts written against the old include path still build: the
// host's interface lives in interface/Quellor.h.
#include "interface/Quellor.h"
