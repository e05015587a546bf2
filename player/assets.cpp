#include "player/assets.h"

const char* const backgroundfile = "/ZELT/media/zelttitle.bmp";
const char* const animation0file = "/ZELT/media/zeltani00.bmp";
const char* const animation1file = "/ZELT/media/zeltani01.bmp";
const char* const animation2file = "/ZELT/media/zeltani02.bmp";
const char* const animation3file = "/ZELT/media/zeltani03.bmp";
const char* const animation4file = "/ZELT/media/zeltani04.bmp";
const char* const animation5file = "/ZELT/media/zeltani05.bmp";

prepared_bitmap background;
prepared_bitmap animation0;
prepared_bitmap animation1;
prepared_bitmap animation2;
prepared_bitmap animation3;
prepared_bitmap animation4;
prepared_bitmap animation5;

const asset_entry asset_table[kAssetCount] = {
    {&backgroundfile, &background}, {&animation0file, &animation0}, {&animation1file, &animation1},
    {&animation2file, &animation2}, {&animation3file, &animation3}, {&animation4file, &animation4},
    {&animation5file, &animation5},
};

prepared_bitmap* const animation_frames[kFrameCount] = {
    &animation0, &animation1, &animation2, &animation3, &animation4, &animation5,
};
