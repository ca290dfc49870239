#pragma once

#include <app/frmcuttest.h>

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>

// The window's commands run on a thread of their own: these wait for their ends, so that a
// test sees what the user sees once the command is over.

// Clicks a command button; true once the command has ended and its outcome was shown.
inline bool clickAndWait(App::FrmCutTest &window, QAbstractButton *button, int timeoutMs = 60000)
{
    QSignalSpy finished(&window, &App::FrmCutTest::commandFinished);
    QTest::mouseClick(button, Qt::LeftButton);
    // A cancelled file dialog starts no command.
    return !window.isBusy() && finished.isEmpty() ? true : finished.wait(timeoutMs);
}

// True once the printer queue list has been filled in; listed spies on printersListed.
inline bool waitForPrinterList(QSignalSpy &listed, int timeoutMs = 30000)
{
    return !listed.isEmpty() || listed.wait(timeoutMs);
}
