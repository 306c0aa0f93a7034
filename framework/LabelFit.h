#pragma once
// Labels sized to their text in the font they are drawn with. Dialog templates
// give widths in dialog units, but the same font name has other metrics on
// other systems (Wine's substitute for "MS Shell Dlg" is wider): a label that
// is too narrow wraps and shows only its first words.
#include <windows.h>

namespace parleym {

// The text's extent on one line in the control's own font.
SIZE LabelTextSize(HWND label);
// Widens the label to its whole text on one line, keeping its left edge,
// and widens its top-level dialog when the label would run out of it.
void FitLabelToText(HWND label);
// FitLabelToText for every one-line text label of the dialog.
void FitLabelsToText(HWND dialog);
// Sizes the label to its text and puts it in the middle of its parent's client area.
void CentreLabel(HWND label);

} // namespace parleym
