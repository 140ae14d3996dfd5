// ProfileNames: the profile lists of the main window and the save-profile dialog. A name shows
// readably, whatever encoding the registry file gave it, and what goes back to the profile store
// is always the exact bytes the registry holds, never the shown text encoded again.
#pragma once

#include <string>
#include <vector>

class QComboBox;

// Fills the list with the names, sorted as the user reads them (without regard to case); each
// item keeps the name as stored.
void ShowProfileNames(QComboBox& box, const std::vector<std::string>& names);

// The stored name of the list's current item; empty when none is chosen.
std::string ChosenProfileName(const QComboBox& box);

// The name in an editable list's field: the stored name of the item whose text it shows, else
// the text typed (UTF-8).
std::string ProfileNameInField(const QComboBox& box);
