#include "app/Codecs.h"

// Each codec adds its own registration here, in start-up order, and its
// unregistration in the reverse order.
void RegisterPictureCodecs() {}

void UnregisterPictureCodecs() {}
