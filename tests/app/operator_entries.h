#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "frm_peso.h"
#include "typed_entries.h"

// The box and the button of a control on the panel.
inline QLineEdit* frmPeso::*entryBox(Control control) {
    switch (control) {
        case Control::BCero:
            return &frmPeso::txtBCero;
        case Control::Grueso:
            return &frmPeso::txtGrueso;
        case Control::Fino:
            return &frmPeso::txtFino;
        case Control::Teor:
            return &frmPeso::txtTeor;
        case Control::Porc:
            return &frmPeso::txtPorc;
        case Control::Comando:
            return &frmPeso::txtComando;
        case Control::Dato:
            break;
    }
    return &frmPeso::txtDato;
}

inline QPushButton* frmPeso::*entryButton(Control control) {
    switch (control) {
        case Control::BCero:
            return &frmPeso::cmdBCero;
        case Control::Grueso:
            return &frmPeso::cmdGrueso;
        case Control::Fino:
            return &frmPeso::cmdFino;
        case Control::Teor:
            return &frmPeso::cmdTeor;
        case Control::Porc:
            return &frmPeso::cmdPorc;
        case Control::Comando:
            return &frmPeso::cmdComando;
        case Control::Dato:
            break;
    }
    return &frmPeso::cmdDato;
}

// Types into `box` as a person would and sends it with `button`, or with Enter when none.
inline void enterAsOperator(frmPeso& form, QLineEdit* frmPeso::*box, QPushButton* frmPeso::*button,
                            const QString& typed) {
    QLineEdit* edit = form.*box;
    edit->clear();
    QTest::keyClicks(edit, typed);
    if (button)
        QTest::mouseClick(form.*button, Qt::LeftButton);
    else
        QTest::keyClick(edit, Qt::Key_Return);
}

inline void enterAsOperator(frmPeso& form, const TypedEntry& e) {
    enterAsOperator(form, entryBox(e.control), e.withButton ? entryButton(e.control) : nullptr,
                    e.typed);
}
