// Turns a dialog template into Qt widgets: the dialog font, its base units,
// and one child widget per control, placed in pixels and reachable by id.
#pragma once

#include <map>

#include <QFont>

#include "app/dialog_layout.h"

class QDialog;
class QWidget;

// The template's font, with installed CJK fonts behind it when it is missing.
QFont DialogFont(const DialogTemplate& tmpl);
// Base units of the font as the dialog manager measures them.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Applies caption, font and fixed client size, then creates every control as a
// child of dialog in template order. Returns the controls by id (kStaticId ones
// are created but not listed). Each widget's objectName is its id in decimal.
std::map<int, QWidget*> BuildDialog(QDialog& dialog, const DialogTemplate& tmpl);
