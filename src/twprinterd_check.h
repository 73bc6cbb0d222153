// twprinterd --check for one settings file or every file of a pool folder.
#pragma once
#include <string>

#include "config/settings.h"
#include "config/settings_check.h"

// What a start would find: 0 when a session could run with every value as
// written (a fallback fails the check too). Nothing is written.
int Check(const config::Settings& settings, const config::SettingsCheck& check,
          const config::Result& loaded);
// --pool DIR --check: every NAME.ini of the folder as its LU would load it,
// one block per file; 0 when all are in order.
int CheckPool(const std::string& dir);
