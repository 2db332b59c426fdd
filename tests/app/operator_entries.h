#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include "frm_peso.h"

// What an operator types, in a Spanish locale (decimal comma), and the register writes
// it must produce: shared by the worker's test and the station against pymodbus.
struct TypedEntry {
    QLineEdit* frmPeso::*box;
    QPushButton* frmPeso::*button;  // nullptr: Enter in the box
    QString typed;
    QString shown;       // the box once normalized
    QStringList writes;  // "register value", in order
};

inline const QList<TypedEntry> kOperatorEntries{
    {&frmPeso::txtGrueso, nullptr, "125", "125", {"16 125", "17 0"}},
    {&frmPeso::txtFino, &frmPeso::cmdFino, "65536", "65536", {"18 0", "19 1"}},
    {&frmPeso::txtBCero, nullptr, "4294967295", "4294967295", {"14 65535", "15 65535"}},
    {&frmPeso::txtPorc, &frmPeso::cmdPorc, "300", "300", {"22 300"}},
    {&frmPeso::txtPorc, nullptr, "77", "77", {}},  // Enter here sends nothing
    {&frmPeso::txtTeor, nullptr, "77", "77", {}},
    {&frmPeso::txtTeor, &frmPeso::cmdTeor, "", "0", {"20 0", "21 0"}},
    {&frmPeso::txtBCero, &frmPeso::cmdBCero, "abc", "0", {"14 0", "15 0"}},
    {&frmPeso::txtTeor, &frmPeso::cmdTeor, "12abc", "12", {"20 12", "21 0"}},
    {&frmPeso::txtFino, nullptr, "1 2", "12", {"18 12", "19 0"}},
    {&frmPeso::txtPorc, &frmPeso::cmdPorc, "1,5", "1", {"22 1"}},
    {&frmPeso::txtTeor, &frmPeso::cmdTeor, "12.9", "12,9", {"20 12", "21 0"}},
    {&frmPeso::txtComando, nullptr, "5", "5", {"7 5"}},
    {&frmPeso::txtComando, &frmPeso::cmdComando, "258", "258", {"7 258"}},
    {&frmPeso::txtDato, nullptr, "70000", "70000", {"8 4464", "9 1"}},
};

// Types the entry as a person would and sends it with Enter or its button.
inline void enterAsOperator(frmPeso& form, const TypedEntry& e) {
    QLineEdit* box = form.*e.box;
    box->clear();
    QTest::keyClicks(box, e.typed);
    if (e.button)
        QTest::mouseClick(form.*e.button, Qt::LeftButton);
    else
        QTest::keyClick(box, Qt::Key_Return);
}
