#pragma once

// The window's source includes the recovery under this name.
#include "app/JournalRecovery.h"
