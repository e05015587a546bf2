#include "image/bmplib.h"
