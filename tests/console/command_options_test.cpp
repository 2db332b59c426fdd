#include "command_options.h"

#include <gtest/gtest.h>

namespace {

// A report's options: a flag among options with a value.
const QList<CommandOption> kReport = {
    {{"--informe"}}, {{"-o", "--output"}}, {{"--turno"}}, {{"--csv"}, false}};

QString refusal(const QStringList& args) {
    const auto read = readOptions(args, kReport);
    const auto* usage = std::get_if<UsageError>(&read);
    return usage ? usage->message : QString();
}

}  // namespace

TEST(CommandOptions, ReadInTheirOrderUnderTheirFirstNameOrRefusedByName) {
    const auto read = readOptions(
        {"--informe", "Peso.csv", "--csv", "--output", "-", "--turno", "--csv"}, kReport);
    ASSERT_TRUE(std::holds_alternative<QList<GivenOption>>(read));
    QStringList seen;
    for (const auto& [name, value] : std::get<QList<GivenOption>>(read)) seen << name + '=' + value;
    // A value is the argument after its option, whatever it looks like.
    EXPECT_EQ(seen, (QStringList{"--informe=Peso.csv", "--csv=", "-o=-", "--turno=--csv"}));

    EXPECT_EQ(refusal({"--informe", "Peso.csv", "--turno"}), "falta el valor de --turno");
    EXPECT_EQ(refusal({"--informe", "Peso.csv", "Dosificaciones.csv"}),
              "opción desconocida: Dosificaciones.csv");
    EXPECT_EQ(refusal({"--informe", "a.csv", "--csv", "x"}), "opción desconocida: x");
}
