// The program's own Qt modules (libraries beside the executable loaded on
// first use, such as the page engine and the testing window's requests):
// the first candidate that is a module of this build is loaded and kept
// for the process's life.
#pragma once

#include <QString>
#include <QStringList>

// A module is of this build when it loads, exports both entry points, and
// its ABI entry point (an int (*)()) gives expectedAbi. Returns the creation
// entry point of the first such candidate; null when there is none, with
// "<what> not found: " and each candidate's reason in error.
void* LoadQtModule(const QStringList& candidates, const char* abiSymbol, const char* createSymbol,
                   int expectedAbi, const QString& what, QString* error);
