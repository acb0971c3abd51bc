// The shared headers plus GoogleTest, for the test programs.
#pragma once

#include "Core.h"

#include <gtest/gtest.h>
