// The window layouts as plain data: every control of the main dialog (102) and
// of the About box (100) with its identifier, kind, built-in text, position and
// size in dialog units and its initial state, plus the conversion of dialog
// units to pixels from the dialog font's base units. No GUI types here.
#pragma once

#include <cstdint>
#include <span>

enum class ControlKind {
  GroupBox,
  AutoCheckBox,
  Edit,           // scrolls horizontally, editable
  PushButton,
  DefPushButton,  // the default button's look; Enter still does nothing
  ListBox,        // unsorted, vertical scroll bar, border
  StaticText,     // left-aligned
  StaticIcon,     // the application icon, at its own size
  ProgressBar,    // with border
};

// Identifier of controls that code never addresses.
inline constexpr int kStaticId = -1;

struct DialogControl {
  int id;
  ControlKind kind;
  const char* text;  // UTF-8, empty when none
  int x, y, cx, cy;  // dialog units
  bool visible;
  bool enabled;
};

struct DialogTemplate {
  int id;
  const char* caption;
  int cx, cy;  // client area, dialog units
  const char* fontFace;
  int pointSize;
  std::span<const DialogControl> controls;
};

// Main dialog and About box.
const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
// The control with this id in the template, or null.
const DialogControl* FindControl(const DialogTemplate& tmpl, int id);

// Text of the menu entry that opens the About box; empty means no entry.
inline constexpr const char* kAboutMenuText = "关于 Tamsolt(&A)...";

// A dialog font's base units in pixels.
struct DialogBaseUnits {
  int x = 0;  // average character width
  int y = 0;  // character height
};

// From the pixel width of "A".."Z""a".."z" (52 letters) and the font height,
// rounded the way Windows computes a dialog font's average width.
DialogBaseUnits BaseUnitsFromMetrics(int widthOfAlphabet, int fontHeight);

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

// Dialog units to pixels: 4 horizontal units per average character width,
// 8 vertical units per character height.
inline int DluToPixelsX(int dlu, const DialogBaseUnits& units) { return MulDiv(dlu, units.x, 4); }
inline int DluToPixelsY(int dlu, const DialogBaseUnits& units) { return MulDiv(dlu, units.y, 8); }
