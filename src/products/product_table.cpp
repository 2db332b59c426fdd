#include "product_table.h"

#include <QSet>
#include <QStringList>
#include <array>
#include <cmath>
#include <limits>

#include "lee_ini.h"
#include "log_parse.h"
#include "weight_format.h"

namespace {

const QStringList kHeader{"nombre",  "banda_cero", "grueso",    "fino",
                          "teorico", "porcentaje", "tolerancia"};
constexpr qsizetype kLongestName = 40;
constexpr double kMostSteps = std::numeric_limits<quint32>::max();

enum Field { Nombre, BandaCero, Grueso, Fino, Teorico, Porcentaje, Tolerancia };

TableProblem problem(int line, Field field, const QString& what) {
    return {line, kHeader[field], what};
}

std::optional<double> number(const QString& text) {
    return parseLogNumber(text.trimmed().toLatin1());
}

// One line's fields into `product`, or what is wrong with the first that cannot be used.
std::optional<TableProblem> readLine(const QStringList& fields, int line, Product& product) {
    if (fields.size() != kHeader.size())
        return TableProblem{line,
                            {},
                            QStringLiteral("tiene %1 campos y deben ser %2")
                                .arg(fields.size())
                                .arg(kHeader.size())};
    product.name = fields[Nombre].trimmed();
    if (product.name.isEmpty()) return problem(line, Nombre, QStringLiteral("vacío"));
    if (product.name.size() > kLongestName)
        return problem(line, Nombre, QStringLiteral("de más de %1 caracteres").arg(kLongestName));
    const std::array<std::pair<Field, double*>, 4> weights{{{BandaCero, &product.zeroBand},
                                                            {Grueso, &product.coarse},
                                                            {Fino, &product.fine},
                                                            {Teorico, &product.target}}};
    for (const auto& [field, value] : weights) {
        const auto read = number(fields[field]);
        if (!read || *read < 0)
            return problem(line, field, QStringLiteral("no es un peso (kg, sin signo)"));
        *value = *read;
    }
    const auto percent = number(fields[Porcentaje]);
    if (!percent || *percent < 0 || *percent > 65535 || *percent != std::floor(*percent))
        return problem(line, Porcentaje, QStringLiteral("no es un número entero de 0 a 65535"));
    product.percentage = static_cast<int>(*percent);
    if (!fields[Tolerancia].trimmed().isEmpty()) {
        const auto tolerance = number(fields[Tolerancia]);
        if (!tolerance || *tolerance < 0 || *tolerance > 100)
            return problem(line, Tolerancia, QStringLiteral("no es un porcentaje de 0 a 100"));
        product.tolerancePercent = *tolerance;
    }
    return std::nullopt;
}

QStringList splitLine(const QString& line) {
    QStringList fields = line.split(u';');
    // A spreadsheet may close every line with one more separator.
    if (fields.size() == kHeader.size() + 1 && fields.back().trimmed().isEmpty())
        fields.removeLast();
    return fields;
}

}  // namespace

QString problemText(const TableProblem& p) {
    QString where =
        p.line > 0 ? QStringLiteral("%1, línea %2").arg(kProductsFile).arg(p.line) : kProductsFile;
    if (!p.field.isEmpty()) where += QStringLiteral(", ") + p.field;
    return where + QStringLiteral(": ") + p.what;
}

ProductTable parseProductTable(const QByteArray& bytes) {
    ProductTable table;
    const auto text = decodeIniText(bytes);
    if (!text) {
        table.problem = TableProblem{1, {}, QStringLiteral("no es un fichero de texto")};
        return table;
    }
    QStringList lines = text->split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r')) line.chop(1);
    QStringList header = splitLine(lines.value(0));
    for (QString& name : header) name = name.trimmed().toLower();
    if (header != kHeader) {
        table.problem =
            TableProblem{1, {}, QStringLiteral("la cabecera debe ser %1").arg(kHeader.join(u';'))};
        return table;
    }
    QList<Product> products;
    QHash<QString, int> lineOfName;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int line = static_cast<int>(i) + 1;
        if (lines[i].trimmed().isEmpty()) continue;
        Product product;
        if (auto wrong = readLine(splitLine(lines[i]), line, product)) {
            table.problem = wrong;
            return table;
        }
        const QString key = product.name.toCaseFolded();
        if (lineOfName.contains(key)) {
            table.problem =
                problem(line, Nombre, QStringLiteral("repetido (línea %1)").arg(lineOfName[key]));
            return table;
        }
        lineOfName.insert(key, line);
        products << product;
    }
    table.products = products;
    return table;
}

std::optional<TableProblem> checkForModule(const ProductTable& table, int decimals) {
    if (table.problem) return table.problem;
    for (qsizetype i = 0; i < table.products.size(); ++i) {
        const Product& p = table.products[i];
        const std::array<std::pair<Field, double>, 4> weights{
            {{BandaCero, p.zeroBand}, {Grueso, p.coarse}, {Fino, p.fine}, {Teorico, p.target}}};
        for (const auto& [field, value] : weights) {
            const double steps = value * std::pow(10.0, decimals);
            const bool whole =
                stepsWeight(double(displaySteps(value, decimals)), decimals) == value;
            if (steps > kMostSteps || !whole)
                return problem(
                    int(i) + 2, field,
                    QStringLiteral("fuera del alcance del módulo (%1 decimales, hasta %2)")
                        .arg(decimals)
                        .arg(formatWeight(stepsWeight(kMostSteps, decimals), decimals,
                                          QLocale::system())));
        }
    }
    return std::nullopt;
}

Setpoints productSetpoints(const Product& p) {
    return {p.zeroBand, p.coarse, p.fine, p.target, p.percentage};
}

const Product* productInForce(const ProductTable& table, const Setpoints& held, int decimals) {
    const auto steps = [decimals](double weight) { return displaySteps(weight, decimals); };
    for (const Product& p : table.products)
        if (steps(p.zeroBand) == steps(held.zeroBand) && steps(p.coarse) == steps(held.coarse) &&
            steps(p.fine) == steps(held.fine) && steps(p.target) == steps(held.target) &&
            p.percentage == held.percentage)
            return &p;
    return nullptr;
}

QStringList productFields(const Product& p, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    const auto number = [&plain](double v) {
        return plain.toString(v, 'f', QLocale::FloatingPointShortest);
    };
    return {p.name,
            number(p.zeroBand),
            number(p.coarse),
            number(p.fine),
            number(p.target),
            QString::number(p.percentage),
            p.tolerancePercent ? number(*p.tolerancePercent) : QString()};
}

std::variant<Product, TableProblem> readProduct(const QStringList& fields) {
    Product product;
    if (auto wrong = readLine(fields, 2, product)) return *wrong;
    return product;
}

QByteArray productTableText(const QList<Product>& products, const QLocale& locale) {
    QByteArray text = QByteArrayLiteral("\xEF\xBB\xBF") + kHeader.join(u';').toUtf8() + "\r\n";
    for (const Product& p : products) text += productFields(p, locale).join(u';').toUtf8() + "\r\n";
    return text;
}
