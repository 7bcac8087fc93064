// KxAgentCtrl: the configuration tool of the agent.
#include <QApplication>

#include "KxAgentCtrl/CtrlMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return KxCtrlMain(QApplication::arguments());
}
