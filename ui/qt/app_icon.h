// Icon 128: the updater's picture at 48, 32 and 16 pixels.
#pragma once

#include <QIcon>

namespace kv {

QIcon AppIcon();

}  // namespace kv
