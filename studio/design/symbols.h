#pragma once

#include <QString>
#include <QStringList>

namespace pelorin::studio {

// The resource path of the SVG drawn for a symbol name the views use ("exclamationmark.triangle",
// "wifi", ...), or an empty string for a name we ship no drawing for.
QString symbolFile(const QString& name);

// Every symbol name that has a drawing.
QStringList symbolNames();

}  // namespace pelorin::studio
