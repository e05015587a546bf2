// Sets a framebuffer's mode and shown page on the test machine, where busybox has no fbset:
//   fbmode DEVICE XRES YRES BPP [YRES_VIRTUAL]
// asks the driver for XRES x YRES at BPP bits with a virtual screen YRES_VIRTUAL rows tall
// (default YRES), pans to the last page (yoffset = YRES_VIRTUAL - YRES), then prints what the
// driver reports, in its own field names, on one line for the host:
//   == mode xres=.. yres=.. xres_virtual=.. yres_virtual=.. xoffset=.. yoffset=..
//      bits_per_pixel=.. line_length=.. smem_len=.. red=OFFSET/LENGTH green=.. blue=.. transp=..
// Exit status 1 when the driver refuses the mode or the pan.
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int fail(const char* what, const char* device) {
    fprintf(stderr, "fbmode: %s %s: %s\n", what, device, strerror(errno));
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        fprintf(stderr, "usage: fbmode DEVICE XRES YRES BPP [YRES_VIRTUAL]\n");
        return 2;
    }
    const char* device = argv[1];
    int fd = open(device, O_RDWR);
    if (fd < 0) {
        return fail("open", device);
    }
    struct fb_var_screeninfo var;
    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0) {
        return fail("FBIOGET_VSCREENINFO", device);
    }
    var.xres = var.xres_virtual = (__u32)strtoul(argv[2], NULL, 10);
    var.yres = (__u32)strtoul(argv[3], NULL, 10);
    var.yres_virtual = argc == 6 ? (__u32)strtoul(argv[5], NULL, 10) : var.yres;
    var.bits_per_pixel = (__u32)strtoul(argv[4], NULL, 10);
    var.xoffset = var.yoffset = 0;
    // Zero lengths let the driver choose its own channel layout for the depth.
    memset(&var.red, 0, sizeof var.red);
    memset(&var.green, 0, sizeof var.green);
    memset(&var.blue, 0, sizeof var.blue);
    memset(&var.transp, 0, sizeof var.transp);
    var.vmode &= ~(__u32)FB_VMODE_YWRAP;
    var.activate = FB_ACTIVATE_NOW;
    if (ioctl(fd, FBIOPUT_VSCREENINFO, &var) != 0) {
        return fail("FBIOPUT_VSCREENINFO", device);
    }
    if (var.yres_virtual > var.yres) {
        var.yoffset = var.yres_virtual - var.yres;
        if (ioctl(fd, FBIOPAN_DISPLAY, &var) != 0) {
            return fail("FBIOPAN_DISPLAY", device);
        }
    }
    struct fb_fix_screeninfo fix;
    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0 || ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0) {
        return fail("FBIOGET_VSCREENINFO/FBIOGET_FSCREENINFO", device);
    }
    printf("== mode xres=%u yres=%u xres_virtual=%u yres_virtual=%u xoffset=%u yoffset=%u "
           "bits_per_pixel=%u line_length=%u smem_len=%u red=%u/%u green=%u/%u blue=%u/%u "
           "transp=%u/%u\n",
           var.xres, var.yres, var.xres_virtual, var.yres_virtual, var.xoffset, var.yoffset,
           var.bits_per_pixel, fix.line_length, fix.smem_len, var.red.offset, var.red.length,
           var.green.offset, var.green.length, var.blue.offset, var.blue.length,
           var.transp.offset, var.transp.length);
    close(fd);
    return 0;
}
