#pragma once

class QWidget;

// The view itself when its integer property "tag" equals `tag`, else its nearest descendant
// (fewest levels down, then first in child order) that has it; null when none has.
QWidget* viewWithTag(QWidget* view, int tag);
