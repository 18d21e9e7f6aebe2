#include "ui/qt/app_icon.h"

#include <QResource>

// The pictures are compiled into this static library; a static library's
// resources must be registered by name before first use, outside any namespace.
static void RegisterIconResource() { Q_INIT_RESOURCE(icon); }

namespace kv {

QIcon AppIcon() {
  static const bool registered = (RegisterIconResource(), true);
  (void)registered;
  QIcon icon;
  for (const char* path : {":/icon/icon-48.png", ":/icon/icon-32.png", ":/icon/icon-16.png"}) {
    icon.addFile(QString::fromLatin1(path));
  }
  return icon;
}

}  // namespace kv
