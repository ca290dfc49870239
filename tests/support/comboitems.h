#pragma once

#include <QComboBox>
#include <QStringList>

// The entries of a list box, in order.
inline QStringList comboItems(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list.append(combo->itemText(i));
    return list;
}
