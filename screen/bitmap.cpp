#include "screen/bitmap.h"
