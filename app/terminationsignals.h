#pragma once

#include <QObject>

namespace App {

// Turns SIGINT, SIGTERM and SIGHUP into a signal in the event loop, so that the window can
// stop a running command and clean up instead of dying in the middle of it. One file per
// platform (terminationsignals_<platform>.cpp), chosen by the build.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);

    // False when the signals cannot be caught; they then end the program as usual.
    bool install();

Q_SIGNALS:
    void terminationRequested();
};

} // namespace App
