#pragma once

class QCoreApplication;

// Qt's own texts (the boxes' "Aceptar", the entry boxes' context menu) in Spanish, like
// every other text of the station: the system locale's variant when that is a Spanish
// one, Spain's otherwise. Reports on stderr, and returns false, when Qt's translations
// are not installed; the station then runs with Qt's English texts.
bool loadQtSpanish(QCoreApplication& app);
