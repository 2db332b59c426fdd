#include "changes_view.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

ChangesView::ChangesView(QWidget* parent) : QWidget(parent), table_(new QTableWidget(this)) {
    const QStringList headers{
        QStringLiteral("Fecha"),  QStringLiteral("Hora"),      QStringLiteral("Usuario"),
        QStringLiteral("Equipo"), QStringLiteral("Campo"),     QStringLiteral("Antes"),
        QStringLiteral("Valor"),  QStringLiteral("Registros"), QStringLiteral("Resultado"),
    };
    table_->setColumnCount(static_cast<int>(headers.size()));
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    // Filled beside the station's window, in its smaller font, and shown in the
    // "Dosificaciones" window's: columns and rows follow their contents in the font shown.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
}

void ChangesView::setLines(const QList<ChangeLine>& lines) {
    table_->setRowCount(0);
    for (const ChangeLine& line : lines) addLine(line);
}

void ChangesView::addLine(const ChangeLine& line) {
    const QStringList fields{line.fecha, line.hora,  line.usuario,   line.equipo,   line.campo,
                             line.antes, line.valor, line.registros, line.resultado};
    table_->insertRow(0);
    for (int column = 0; column < fields.size(); ++column) {
        auto* item = new QTableWidgetItem(fields[column]);
        // What did not reach the module stands out from what did.
        if (line.resultado != QLatin1String("Enviado") &&
            line.resultado != QLatin1String("Anotado"))
            item->setForeground(Qt::red);
        table_->setItem(0, column, item);
    }
    while (table_->rowCount() > kShown) table_->removeRow(table_->rowCount() - 1);
}
