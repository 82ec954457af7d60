// Group boxes drawn as the windows were laid out for: the caption sits on
// the frame's top line, so the controls at their design positions (the
// first row 12 to 16 pixels below the box's top) lie inside the frame.
// Qt's own styles put the caption above the frame, whose top line then
// runs through that first row.
#pragma once

class QGroupBox;
class QStyle;

namespace globelayers {

// Gives `group` the caption-on-frame look: an etched frame whose top line
// runs through the middle of the caption, the caption from 8 pixels in,
// and contents below the caption. The rest of the group box (its colours,
// its font, its children) keeps the application's style.
void DrawCaptionOnFrame(QGroupBox* group);

// The style behind it, one for the application; for tests.
QStyle* CaptionOnFrameStyle();

}  // namespace globelayers
