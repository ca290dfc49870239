#pragma once

// Each state of a printer has a colour and an icon of its own shape, so that the list reads
// without colours too.

#include <commands/printerstate.h>

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QIdentityProxyModel>

namespace PrintersWindow {

QColor stateColour(Commands::PrinterState state);
QIcon stateIcon(Commands::PrinterState state);

// The printer list with the state column's icon and colour.
class StateDecoration : public QIdentityProxyModel
{
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    mutable QHash<int, QIcon> m_icons;
};

} // namespace PrintersWindow
