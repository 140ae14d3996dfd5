// ControlBehaviour: what single controls of the windows need beyond the platform's style, as
// on the platform the program comes from. Each style function returns a style for one control,
// owned by owner.
#pragma once

#include <vector>

class QObject;
class QRadioButton;
class QStyle;

// A drop-down list that opens as a list box below or above it, showing its visible-item count
// and scrolling the rest; styles that open a list as a menu over it show every item.
QStyle* CountedListStyle(QObject* owner);

// A tab bar whose tab under the mouse is hot-tracked: its caption takes the highlight colour.
QStyle* HotTrackingTabStyle(QObject* owner);

// Makes the buttons one group as the keyboard reaches it: Tab stops only at the checked button
// (at the first when none is checked), and the arrow keys move to the previous or next enabled
// button of the group, round from the last to the first, and check it.
void MakeRadioGroup(const std::vector<QRadioButton*>& buttons);
