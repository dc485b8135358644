// The mail client's add-in registrations and extension cache. Not built yet: both do nothing.
#include "catalog/catalog.h"

void RemoveOutlookAddins() {}
void DeleteOutlookExtensionCache() {}
