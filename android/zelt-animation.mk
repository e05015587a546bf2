# zelt-animation in a device's product, in its recovery image: inherit it from the device's
# product makefile after setting ZELT_MEDIA_DIR, the folder that holds the seven pictures:
#     ZELT_MEDIA_DIR := device/acme/phone/zelt-media
#     $(call inherit-product, vendor/zelt/animation/android/zelt-animation.mk)
# The program's recovery variant, its recovery init script, the pictures in the recovery
# image's root (/ZELT/media/, the path the program reads) and, on userdebug and eng builds only,
# the device probe. The policy is added in BoardConfig.mk (docs/android-image.md).

# The pictures the program reads, by the names it has compiled in.
ZELT_PICTURES := zelttitle.bmp zeltani00.bmp zeltani01.bmp zeltani02.bmp zeltani03.bmp \
    zeltani04.bmp zeltani05.bmp

ifeq ($(ZELT_MEDIA_DIR),)
$(error zelt-animation: set ZELT_MEDIA_DIR to the folder with $(ZELT_PICTURES))
endif
ZELT_MISSING_PICTURES := $(filter-out $(notdir $(wildcard $(ZELT_MEDIA_DIR)/*.bmp)),$(ZELT_PICTURES))
ifneq ($(ZELT_MISSING_PICTURES),)
$(error zelt-animation: $(ZELT_MEDIA_DIR) lacks $(ZELT_MISSING_PICTURES))
endif

PRODUCT_PACKAGES += zelt-animation.recovery zelt-animation-recovery.rc
PRODUCT_PACKAGES_DEBUG += zelt-probe.recovery
PRODUCT_COPY_FILES += $(foreach picture,$(ZELT_PICTURES),\
    $(ZELT_MEDIA_DIR)/$(picture):$(TARGET_COPY_OUT_RECOVERY)/root/ZELT/media/$(picture))
