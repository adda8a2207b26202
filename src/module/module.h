// Module surface: the module's entry, the pygame slot table and the
// conversion of an RImage record into a pygame Surface.
#ifndef QUORVELC_MODULE_H
#define QUORVELC_MODULE_H

#include "runtime/runtime.h"

#include <cstdint>

#include "rimage.h"
#include "sdl.h"
#include "sdl3.h"

// Entries copied from pygame's C-API capsules, in pygame's slot layout:
// pygame.base 0-9, pygame.surface 40-42, pygame.surflock 44-48.
constexpr int PYGAME_API_SLOT_COUNT = 60;
constexpr int PYGAME_SURFACE_FIRST_SLOT = 40;
extern void *pygame_api_slots[PYGAME_API_SLOT_COUNT];

// pygame's surface constructor (pgSurface_New2): with owner 1 the Surface
// frees the SDL surface when it goes; the pixels stay the caller's.
using pygame_surface_new = PyObject *(*)(SDL_Surface *surface, int owner);
// The same entry in pygame-ce built on SDL 3 takes an SDL 3 surface.
using pygame_surface_new_sdl3 = PyObject *(*)(sdl3::SDL_Surface *surface, int owner);
constexpr int PYGAME_SURFACE_NEW_SLOT = PYGAME_SURFACE_FIRST_SLOT + 1;

// Creates and initialises the module: registers the pointer types once per
// process, then copies pygame's C-API entries. Gives a new reference to the
// module, or null with the error set (a pygame module that could not be
// imported leaves its error, and the import of Quorvelc fails with it).
PyObject *initialise_module();

// Imports one pygame module and copies the first `count` entries of its
// C-API capsule into pygame_api_slots from `first_slot` on. A missing or
// foreign capsule copies nothing and raises nothing. Gives 0, or -1 with the
// error of the import or of the capsule's lookup (memory ran out) set, having
// copied nothing. No error may be pending on entry.
int import_pygame_api(const char *module_name, int first_slot, int count);

// import_pygame_api for pygame.base, pygame.surface and pygame.surflock, then
// the lookup of the SDL entry points in the SDL that pygame loaded. Tries every
// pygame module even after a failure; gives 0, or -1 with the most recent
// import error set.
int import_pygame_and_sdl();

// The argument layer: RImage_asSDLSurface(image), the module's one Python
// function, called without an argument tuple (METH_FASTCALL | METH_KEYWORDS):
// `args` holds `count` positional arguments, `keyword_names` the names of
// any keyword arguments after them. Gives a new reference (Surface or None)
// or null with the error set.
PyObject *surface_from_argument(PyObject *self, PyObject *const *args, Py_ssize_t count,
                                PyObject *keyword_names);

// A pixel format that SDL is asked for: bits per pixel, the masks that select
// each channel in a pixel read as one native integer, and SDL's code for them.
struct pixel_format {
    int bits_per_pixel;
    uint32_t red_mask, green_mask, blue_mask, alpha_mask;
    uint32_t sdl_format;  // SDL's code for these masks, found on first use; 0 before
};

// Rows of pixels in memory: the first pixel, the sides and the bytes from one
// row's start to the next.
struct pixel_rows {
    char *pixels;
    int width;
    int height;
    int row_stride;
};

// Fills `format` for a channel order in memory order, one letter per byte:
// R, G and B once each, then A (alpha) or X (an unused byte) for a 4-byte
// pixel, in any order; "L" alone is grey (an 8-bit surface with a grey
// palette). Gives false for any other text. `sdl_format` is left 0.
bool format_for_order(const char *order, Py_ssize_t length, pixel_format *format);

// The pygame layer for any rows: a new pygame Surface over `rows` in
// `format` (its SDL code is found and kept on first use), None (new
// reference) when `format` is null, the layout cannot be shown (the record rules: sizes,
// alignment, INT_MAX, null pixels) or SDL makes no surface, or null with
// RuntimeError when pygame's constructor or SDL is missing, or with pygame's
// own error when its constructor fails. The Surface borrows the pixel memory:
// the caller keeps it alive.
PyObject *surface_over_rows(const pixel_rows &rows, pixel_format *format);

// The pygame layer: wraps the record in a new pygame Surface: a new reference, None (new
// reference) for a null record or a layout that cannot be shown, or null with
// RuntimeError when pygame's constructor or SDL is missing, or with pygame's
// own error when its constructor fails.
PyObject *surface_from_image(const RImage *record);

#endif
