#pragma once

#include <QString>

namespace pelorin::studio {

// The resource path of the SVG drawn for a symbol name the views use ("exclamationmark.triangle",
// "wifi", ...), or an empty string for a name we ship no drawing for.
QString symbolFile(const QString& name);

}  // namespace pelorin::studio
