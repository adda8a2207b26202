// Module surface: the module's entry, the pygame slot table and the
// conversion of an RImage record into a pygame Surface.
#ifndef QUORVELC_MODULE_H
#define QUORVELC_MODULE_H

#include "runtime/runtime.h"

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

// Creates and initialises the module: makes the objects that belong to the
// interpreter (once per interpreter life; the slot table starts empty in each
// new one), registers the pointer types once per process, then copies
// pygame's C-API entries. Gives a new reference to the module, or null with
// the error set (a pygame module that could not be imported leaves its error,
// and the import of Quorvelc fails with it).
PyObject *initialise_module();

// Imports one pygame module and copies the first `count` entries of its
// C-API capsule into pygame_api_slots from `first_slot` on. A missing or
// foreign capsule copies nothing and raises nothing. Gives 0, or -1 with the
// error of the import or of the capsule's lookup (memory ran out) set, having
// copied nothing. No error may be pending on entry.
int import_pygame_api(const char *module_name, int first_slot, int count);

// import_pygame_api for pygame.base, pygame.surface and pygame.surflock, then,
// when all three imported, the lookup of the SDL entry points in the SDL that
// pygame loaded. Tries every pygame module even after a failure; gives 0, or
// -1 with the most recent import error set.
int import_pygame_and_sdl();

// The argument layer: RImage_asSDLSurface(image), the module's one Python
// function, called without an argument tuple (METH_FASTCALL | METH_KEYWORDS):
// `args` holds `count` positional arguments, `keyword_names` the names of
// any keyword arguments after them. Gives a new reference (Surface or None)
// or null with the error set.
PyObject *surface_from_argument(PyObject *self, PyObject *const *args, Py_ssize_t count,
                                PyObject *keyword_names);

// The SDL layer: makes an SDL surface over the record's own pixels, or gives null when the
// record's layout cannot be shown (depth, channels, alignment, sizes) or SDL
// fails. The record must be live and `sdl_api` resolved. The surface borrows
// the pixel memory: the record must outlive it.
SDL_Surface *image_to_sdl_surface(const RImage *record);

// image_to_sdl_surface when pygame loaded SDL 3: the same layouts and formats,
// made through `sdl3_api`, which must be resolved.
sdl3::SDL_Surface *image_to_sdl3_surface(const RImage *record);

// The pygame layer: wraps the record in a new pygame Surface: a new reference, None (new
// reference) for a null record or a layout that cannot be shown, or null with
// RuntimeError when pygame's constructor or SDL is missing, or with pygame's
// own error when its constructor fails.
PyObject *surface_from_image(const RImage *record);

#endif
