// Tunewisp: the program entry.

#include <QApplication>

#include "converter/Tunewisp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return RunTunewisp(app);
}
