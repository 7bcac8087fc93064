// The tool's run: start-up, the sheet, shut-down.
#pragma once

#include <QString>
#include <QStringList>

// Runs the tool with its command line (program name first) in a running
// QApplication: the registration switches, the one-instance check, the
// configuration of the program's directory and the modal sheet. Returns the
// exit status.
int KxCtrlMain(const QStringList& arguments);
// As above with the base directory given (ending in '/').
int KxCtrlMain(const QStringList& arguments, const QString& strBaseDir);
