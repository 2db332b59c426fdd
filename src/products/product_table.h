#pragma once

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "readers.h"

// Productos.csv, the station's one table of what its modules dose: a header line
// "nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia", then one product a line,
// weights in kilograms with a comma or a point, the tolerance in percent of the
// theoretical weight (empty: the module's own). Written by people, in a spreadsheet:
// UTF-8 or Latin-1, CR LF or LF.

inline const QString kProductsFile = QStringLiteral("Productos.csv");

struct Product {
    QString name;
    double zeroBand = 0;
    double coarse = 0;
    double fine = 0;
    double target = 0;
    int percentage = 0;
    std::optional<double> tolerancePercent;
    bool operator==(const Product&) const = default;
};

// Where a table cannot be used, for the operator: its line (1 is the header) and field.
struct TableProblem {
    int line = 0;
    QString field;  // the header's name of the field, or empty for the whole line
    QString what;   // in Spanish: "no es un número", "nombre repetido (línea 3)", ...
    bool operator==(const TableProblem&) const = default;
};

// "Productos.csv, línea 4, grueso: no es un número".
QString problemText(const TableProblem& problem);

struct ProductTable {
    QList<Product> products;  // in the file's order; none when the table has a problem
    std::optional<TableProblem> problem;
};

// The table in `bytes`, whole or not at all: one line that cannot be used refuses it.
ProductTable parseProductTable(const QByteArray& bytes);

// Whether the table fits a module showing `decimals` places: every weight a whole number
// of its display steps that its registers hold. Nothing, or the first line that does not.
std::optional<TableProblem> checkForModule(const ProductTable& table, int decimals);

// The product whose five setpoints are those the module holds, compared in its display
// steps; nullptr for none.
const Product* productInForce(const ProductTable& table, const Setpoints& held, int decimals);

// A product's seven fields as the table writes them: each number as short as it is exact,
// with the locale's decimal separator and no grouping.
QStringList productFields(const Product& product, const QLocale& locale);
// One product from the seven fields of a line, or what is wrong with them (line 2 of a
// table of its own).
std::variant<Product, TableProblem> readProduct(const QStringList& fields);
// A whole table for Productos.csv: UTF-8 with its mark (a spreadsheet then reads the
// accents right), the header, one line a product, CR LF.
QByteArray productTableText(const QList<Product>& products, const QLocale& locale);

// A product's setpoints as the module holds them.
Setpoints productSetpoints(const Product& product);
