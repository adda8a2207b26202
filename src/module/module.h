// Module surface: the module's entry, the pygame slot table and the
// conversion of an RImage record into a pygame Surface.
#ifndef QUORVELC_MODULE_H
#define QUORVELC_MODULE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "sdl.h"

// The image record of the other library, as far as this module reads it.
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

// Entries copied from pygame's C-API capsules, in pygame's slot layout:
// pygame.base 0-9, pygame.surface 40-42, pygame.surflock 44-48.
constexpr int PYGAME_API_SLOT_COUNT = 60;
constexpr int PYGAME_SURFACE_FIRST_SLOT = 40;
extern void *pygame_api_slots[PYGAME_API_SLOT_COUNT];

// pygame's surface constructor (pgSurface_New2): with owner 1 the Surface
// frees the SDL surface when it goes; the pixels stay the caller's.
using pygame_surface_new = PyObject *(*)(SDL_Surface *surface, int owner);
constexpr int PYGAME_SURFACE_NEW_SLOT = PYGAME_SURFACE_FIRST_SLOT + 1;

// Creates and initialises the module: registers the pointer types once per
// process, then copies pygame's C-API entries. Gives a new reference to the
// module, or null with the error set (a pygame module that could not be
// imported leaves its error, and the import of Quorvelc fails with it).
PyObject *initialise_module();

// Copies pygame's C-API entries into pygame_api_slots and looks up the SDL
// entry points in the SDL that pygame loaded. Tries every pygame module even
// after a failure; gives 0, or -1 with the most recent import error set.
int import_pygame_apis();

// RImage_asSDLSurface(image): the argument layer of the module's one Python
// function. Gives a new reference (Surface or None) or null with the error set.
PyObject *image_as_sdl_surface_call(PyObject *self, PyObject *args);

// Makes an SDL surface over the record's own pixels, or gives null when the
// record's layout cannot be shown (depth, channels, alignment, sizes) or SDL
// fails. The record must be live and `sdl_api` resolved. The surface borrows
// the pixel memory: the record must outlive it.
SDL_Surface *image_to_sdl_surface(const RImage *record);

// Wraps the record in a new pygame Surface: a new reference, None (new
// reference) for a null record or a layout that cannot be shown, or null with
// RuntimeError when pygame's constructor or SDL is missing, or with pygame's
// own error when its constructor fails.
PyObject *surface_from_image(const RImage *record);

#endif
