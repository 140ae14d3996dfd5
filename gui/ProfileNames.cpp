// ProfileNames: profile names in the windows' lists, shown readably and kept as stored.
#include "gui/ProfileNames.h"

#include <QByteArray>
#include <QComboBox>
#include <algorithm>
#include <utility>

#include "gui/QtText.h"

void ShowProfileNames(QComboBox& box, const std::vector<std::string>& names) {
    std::vector<std::pair<QString, std::string>> items;
    for (const std::string& name : names)
        items.emplace_back(ReadableText(name), name);
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return QString::compare(a.first, b.first, Qt::CaseInsensitive) < 0;
    });
    box.clear();
    for (const auto& [shown, stored] : items)
        box.addItem(shown, QByteArray::fromStdString(stored));
}

std::string ChosenProfileName(const QComboBox& box) {
    return box.currentIndex() < 0 ? std::string() : box.currentData().toByteArray().toStdString();
}

std::string ProfileNameInField(const QComboBox& box) {
    const QString text = box.currentText();
    const int item = box.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return item >= 0 ? box.itemData(item).toByteArray().toStdString() : text.toStdString();
}
