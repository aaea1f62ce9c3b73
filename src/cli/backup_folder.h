// The backup folder model lives below both front ends.
#pragma once

#include "workspace/backup_folder.h"
