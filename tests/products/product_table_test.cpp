#include "product_table.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kHeader = "nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\r\n";

}  // namespace

// As a Spanish spreadsheet saves it: Latin-1, CR LF, decimal commas, a point where someone
// typed one, a trailing separator, an empty tolerance.
TEST(ProductTable, ReadsWhatASpreadsheetWrites) {
    const ProductTable table = parseProductTable(kHeader +
                                                 "Harina;2,0;90,0;99,0;100,0;0;0,5\r\n"
                                                 "Az\xFA"
                                                 "car;1.5;45;49,5;50;10;\r\n"
                                                 "\r\n");
    ASSERT_FALSE(table.problem) << problemText(*table.problem).toStdString();
    ASSERT_EQ(table.products.size(), 2);
    EXPECT_EQ(table.products[0], (Product{"Harina", 2.0, 90.0, 99.0, 100.0, 0, 0.5}));
    EXPECT_EQ(table.products[1], (Product{"Azúcar", 1.5, 45.0, 49.5, 50.0, 10, std::nullopt}));
    EXPECT_FALSE(checkForModule(table, 1));

    // In force: the product whose five setpoints the module holds, in its display steps.
    EXPECT_EQ(productInForce(table, {1.5, 45.0, 49.5, 50.0, 10}, 1), &table.products[1]);
    EXPECT_EQ(productInForce(table, {1.5, 45.0, 49.6, 50.0, 10}, 1), nullptr);
    EXPECT_EQ(productInForce(table, {1.5, 45.0, 49.5, 50.0, 11}, 1), nullptr);
}

// A table that cannot be used says where, and offers no product at all.
TEST(ProductTable, ATableThatCannotBeUsedNamesItsLineAndField) {
    const struct {
        QByteArray text;
        int decimals;
        QString said;
    } cases[] = {
        {kHeader + "Harina;2;90;99;100;0;\nharina;1;45;49;50;0;\n", 1,
         "Productos.csv, línea 3, nombre: repetido (línea 2)"},
        {kHeader + "Harina;2;9O;99;100;0;\n", 1,
         "Productos.csv, línea 2, grueso: no es un peso (kg, sin signo)"},
        {kHeader + "Harina;2;-90;99;100;0;\n", 1,
         "Productos.csv, línea 2, grueso: no es un peso (kg, sin signo)"},
        {kHeader + "Harina;2;90;99;100;1,5;\n", 1,
         "Productos.csv, línea 2, porcentaje: no es un número entero de 0 a 65535"},
        {kHeader + "Harina;2;90;99;100;0\n", 1,
         "Productos.csv, línea 2: tiene 6 campos y deben ser 7"},
        {"nombre;grueso\nHarina;2\n", 1,
         "Productos.csv, línea 1: la cabecera debe ser "
         "nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia"},
        {kHeader + "Harina;2;90;99,25;100;0;\n", 1,
         "Productos.csv, línea 2, fino: fuera del alcance del módulo (1 decimales, hasta "
         "429496729,5)"},
        {kHeader + "Harina;2;90;99;500000000;0;\n", 1,
         "Productos.csv, línea 2, teorico: fuera del alcance del módulo (1 decimales, hasta "
         "429496729,5)"},
    };
    for (const auto& c : cases) {
        const ProductTable table = parseProductTable(c.text);
        const auto problem = checkForModule(table, c.decimals);
        ASSERT_TRUE(problem) << c.said.toStdString();
        EXPECT_EQ(problemText(*problem), c.said);
        if (table.problem) EXPECT_TRUE(table.products.isEmpty());
    }
}
