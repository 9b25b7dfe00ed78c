#include "engine/testing/EngineTesting.h"
