#include "screen/screen.h"

// Shared screen state (the connection steps come with the screen connection module).
int fbfd = -1;
fb_var_screeninfo fbvar{};
uint8_t* fbmem = nullptr;
int buffersize = 0;
