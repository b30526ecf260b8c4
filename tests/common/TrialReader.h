#pragma once

#include "settings/ModelTrialRead.h"

#include <string>

namespace NovaroTest
{

// Models in formats whose readers trust the file are tried first by the run directory's trial
// reader, as the player's are.
inline void useTrialReader()
{
    Novaro::setTrialReader(std::string(NOVARO_RUN_DIR) + "/novaro-trial-read", {});
}

} // namespace NovaroTest
