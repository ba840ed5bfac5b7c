#include "resources/Resources.h"

#include <algorithm>
#include <mutex>

#include "resources/DialogTemplate.h"

// Q_INIT_RESOURCE declares the registration function where it is used, so it must be used
// outside any namespace.
static void RegisterQuillonResources() { Q_INIT_RESOURCE(quillon_resources); }

namespace quillon::resources {

void LoadResources() {
  static std::once_flag once;
  std::call_once(once, RegisterQuillonResources);
}

QString BitmapPath(int id) {
  LoadResources();
  if (std::find(kFormatBitmaps.begin(), kFormatBitmaps.end(), id) == kFormatBitmaps.end()) return {};
  return QStringLiteral(":/quillon/bitmaps/%1.bmp").arg(id);
}

}  // namespace quillon::resources
