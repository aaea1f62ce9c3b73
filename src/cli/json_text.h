// The JSON pieces of the --json outputs live below both front ends.
#pragma once

#include "workspace/json_text.h"
