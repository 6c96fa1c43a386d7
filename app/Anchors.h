#pragma once

// Keeps the controls of a window where its layout file places them when the window is resized.
// A layout file marks a control with a dynamic property:
//   align   = "left" | "top" | "right" | "bottom" | "client": the control lies against that side
//             of its parent and fills the rest of that side ("client": whatever is left);
//   anchors = a comma list of "left", "top", "right", "bottom": the edges of the parent whose
//             distance the control keeps (a control without either keeps left and top).
// Aligned controls are placed in the order top, bottom, left, right, client, each group in
// creation order, so a bottom bar spans the full width and a left picture sits above it.

class QWidget;

namespace noggix
{

// Records the layout-file geometry of every descendant of form as its design geometry and
// keeps the aligned and anchored ones in place from then on. Call once, after setupUi().
void installAnchors(QWidget *form);

} // namespace noggix
