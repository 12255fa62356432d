// Knobwarden: the program entry.

#include <QApplication>

#include "wizard/Knobwarden.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return RunKnobwarden(app);
}
