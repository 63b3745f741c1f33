// The one Carbon call the adapter makes: whether some application holds
// Secure Event Input. Test-only model header.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

Boolean IsSecureEventInputEnabled(void);
