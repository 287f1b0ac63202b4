// The Standard conversion the long way: every step on its own copy, with
// the straightforward filters, on one thread. RunStandard must give
// exactly its bytes.
#pragma once

#include "standard/StandardPipeline.h"

void RunStandardReference(const TStandardSettings& settings, const TBitmap& source, TBitmap& result);
