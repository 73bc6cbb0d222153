// The window's texts from the string table (numbers in config/messages.h).
#pragma once
#include <QString>

#include "config/messages.h"

namespace ui {

// Text of message n of the string table.
QString UiText(int n);

inline constexpr const char* kVersion = "1.5.1";

} // namespace ui
