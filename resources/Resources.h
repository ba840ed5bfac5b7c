// The module's own resources (the three format banners) compiled in with Qt's resource
// system, so the plug-in finds them wherever it is loaded from.
#pragma once

#include <QString>

namespace quillon::resources {

// Registers the compiled-in resources with Qt. Needed once before the first use when the
// library is linked statically; calling it again does nothing. Thread-safe.
void LoadResources();

// The Qt resource path of bitmap resource `id` (":/quillon/bitmaps/1015.bmp"); empty when no
// bitmap has that identifier. Calls LoadResources().
QString BitmapPath(int id);

}  // namespace quillon::resources
