#pragma once

#include <QString>

// 0 when this process is the only instance and may go on; 1 when a notice was shown and the
// process must end.
int checkSingleInstance();

// The client identifier of this machine, possibly empty.
QString getClientId();
