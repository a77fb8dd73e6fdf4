#pragma once

class QWidget;

// Text that wraps onto more lines than the window was laid out for would be cut off: once the
// layout has taken the new text in, the window grows to the height it needs (never shrinks).
void makeRoomForWrappedText(QWidget* widget);
