#pragma once

// Makes captions fit their controls whatever the installed font and the desktop's style.

class QAbstractButton;
class QWidget;

namespace noggix
{

// The width that button needs to show its caption whole in the current font and style.
int captionWidth(const QAbstractButton *button);

// For every button and check box of the window form (not of its dialogs) whose caption needs more
// width than the control has, narrows the glyphs of that control's font (horizontal stretch down to
// 80 %) until the caption fits. The height of the text stays as it is.
void fitCaptions(QWidget *form);

} // namespace noggix
