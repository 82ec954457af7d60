// The windows were laid out in pixels for an 8-point sans-serif face at
// 96 dpi (11 pixels high); the same pixel size keeps every caption inside
// its control whatever face the platform substitutes.
#pragma once

class QWidget;

namespace globelayers {

void ApplyFormFont(QWidget* form);

}  // namespace globelayers
