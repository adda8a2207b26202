// The image record of the other library, as far as this module reads it.
#ifndef QUORVELC_RIMAGE_H
#define QUORVELC_RIMAGE_H

#include <cstddef>

// Only the named fields are read; the record's owner creates and frees it.
struct RImage {
    int unread_0[2];
    int channels;             // interleaved channels per pixel
    int unread_1;
    int depth;                // bits per channel; only 8 is shown
    char unread_2[4];
    char channel_order[4];    // "RGB..." is red first, anything else blue first
    int unread_3[3];
    int width;
    int height;
    void *unread_4[4];
    int unread_5;
    char *pixels;             // first byte of the first row
    int row_stride;           // bytes from one row's start to the next
};

static_assert(offsetof(RImage, channels) == 8, "RImage layout");
static_assert(offsetof(RImage, depth) == 16, "RImage layout");
static_assert(offsetof(RImage, channel_order) == 24, "RImage layout");
static_assert(offsetof(RImage, width) == 40, "RImage layout");
static_assert(offsetof(RImage, height) == 44, "RImage layout");
static_assert(offsetof(RImage, pixels) == (sizeof(void *) == 8 ? 88 : 68), "RImage layout");
static_assert(offsetof(RImage, row_stride) == (sizeof(void *) == 8 ? 96 : 72), "RImage layout");

#endif
