// Read by moc before every header it processes. Qt 6.4's moc cannot parse
// libstdc++'s <concepts> unless Qt's global header came first; headers that
// include a standard header before any Qt header would otherwise fail.
#pragma once

#include <QtGlobal>
