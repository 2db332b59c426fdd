#pragma once

class QCoreApplication;

// `vormelq --servicio`: the station with no window, from load to exit, for systemd or a
// shell. The configuration is read from the working directory as the window's station
// reads it; a start-up failure is one line on stderr and status 1. Tells systemd, when it
// started the process with a notification socket, that it is ready once the links are
// open, and pings its watchdog while every link's poll loop moves. SIGTERM and SIGINT
// stop it as the window's close box does; SIGHUP is ignored.
int runService(QCoreApplication& app);
