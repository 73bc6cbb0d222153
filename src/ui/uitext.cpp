#include "uitext.h"

#include "config/messages.h"

namespace ui {

QString UiText(int n) {
    return QString::fromUtf8(config::LoadMessage(n));
}

} // namespace ui
