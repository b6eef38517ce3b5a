// Moved to the fixture kit.
#pragma once
#include "tests/support/temp_dir.h"
