#include "Desktop.h"
