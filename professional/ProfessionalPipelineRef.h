// The Professional conversion the long way: every step on its own copy,
// with the straightforward filters, on one thread. RunProfessional must
// give exactly its bytes.
#pragma once

#include "professional/ProfessionalPipeline.h"

void RunProfessionalReference(const TProfessionalSettings& settings, const TBitmap& source, TBitmap& result);
