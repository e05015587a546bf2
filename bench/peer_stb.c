/* The peer decoder, stb_image from Debian's libstb-dev, compiled here with the same compiler
   and optimisation level as the reader so that the comparison is of code, not of build flags. */
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
